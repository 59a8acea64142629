// The npm `onvif` client (third-party) against the simulated camera's ONVIF
// services: connect (clock, capabilities, profiles, video sources), device
// information, stream and snapshot addresses, a pan/tilt move and its stop.
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
    finish();
});
