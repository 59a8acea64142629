// The npm `onvif` client (third-party) against the simulated camera's ONVIF
// services: connect (clock, capabilities, profiles, video sources), device
// information, stream and snapshot addresses, a pan/tilt move and its stop,
// the recordings a search finds and the replay address of the first.
//
//   node client.js HOST WEBPORT USER PASSWORD RTSPPORT
// Prints one line per check and "onvif client: N passed, M failed"; exits 0
// only when every check passed.
"use strict";
const onvif = require("onvif");

const [host, webPort, user, password, rtspPort] = process.argv.slice(2);
let passed = 0, failed = 0;
function check(what, ok, detail) {
    if (ok) passed++; else failed++;
    console.log((ok ? "ok   " : "FAIL ") + what + (detail === undefined ? "" : ": " + detail));
}
function finish() {
    console.log("onvif client: " + passed + " passed, " + failed + " failed");
    process.exit(failed === 0 && passed > 0 ? 0 : 1);
}
function step(name, call, test) {
    return new Promise((resolve) => call((err, data) => {
        if (err) check(name, false, err.message || String(err));
        else test(data);
        resolve();
    }));
}
setTimeout(() => { check("finished in time", false); finish(); }, 20000).unref();

const cam = new onvif.Cam({ hostname: host, port: Number(webPort), username: user, password: password, timeout: 5000 }, async (err) => {
    check("connects with the account", !err, err && err.message);
    if (err) return finish();
    check("one profile with its video source", cam.profiles.length === 1 && cam.activeSource && cam.activeSource.profileToken === "profile_1",
        JSON.stringify(cam.activeSource));
    check("the PTZ service is announced", !!(cam.uri && cam.uri.ptz), cam.uri && cam.uri.ptz && cam.uri.ptz.href);
    await step("device information", (cb) => cam.getDeviceInformation(cb), (info) =>
        check("device information", info.manufacturer === "Tiravex" && !!info.model && !!info.serialNumber && !!info.firmwareVersion, JSON.stringify(info)));
    await step("stream address", (cb) => cam.getStreamUri({ protocol: "RTSP" }, cb), (stream) =>
        check("stream address", stream.uri === "rtsp://" + host + ":" + rtspPort + "/stream1", stream.uri));
    await step("snapshot address", (cb) => cam.getSnapshotUri(cb), (snapshot) =>
        check("snapshot address", /^http:\/\/.*\/snapshot\.jpg$/.test(snapshot.uri), snapshot.uri));
    await step("continuous move", (cb) => cam.continuousMove({ x: 0.5, y: -0.25 }, cb), () => check("continuous move", true));
    await step("stop", (cb) => cam.stop({ panTilt: true, zoom: false }, cb), () => check("stop", true));
    await step("recording summary", (cb) => cam.getRecordingSummary(cb), (summary) =>
        check("recording summary", Number(summary.numberRecordings) === 1 && new Date(summary.dataFrom).getTime() === Date.UTC(2026, 0, 1), JSON.stringify(summary)));
    // The client has no call of its own for a search: its request layer
    // (account, envelope, service address) carries ours.
    const search = (body, cb) => cam._request({ service: "search", body: cam._envelopeHeader() + body + cam._envelopeFooter() }, cb);
    let searchToken = "";
    await step("find recordings", (cb) => search('<FindRecordings xmlns="http://www.onvif.org/ver10/search/wsdl"><Scope/>'
        + "<KeepAliveTime>PT10S</KeepAliveTime></FindRecordings>", cb), (data) => {
        searchToken = JSON.stringify(data).match(/search_\d+/);
        check("find recordings", !!searchToken, JSON.stringify(data));
    });
    await step("recordings found", (cb) => search('<GetRecordingSearchResults xmlns="http://www.onvif.org/ver10/search/wsdl"><SearchToken>'
        + searchToken + "</SearchToken><WaitTime>PT1S</WaitTime></GetRecordingSearchResults>", cb), (data) => {
        const text = JSON.stringify(data);
        check("recordings found", text.includes("recording_1") && text.includes("Completed") && text.includes("2026-01-01T00:00:05Z"), text);
    });
    await step("replay address", (cb) => cam.getReplayUri({ recordingToken: "recording_1" }, cb), (uri) =>
        check("replay address", uri === "rtsp://" + host + ":" + rtspPort + "/replay/recording_1", uri));
    finish();
});
