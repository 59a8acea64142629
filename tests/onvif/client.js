// The npm `onvif` client (third-party) against the simulated camera's ONVIF
// services: connect (clock, capabilities, profiles, video sources), device
// information, stream and snapshot addresses, a pan/tilt move and its stop,
// the recordings a search finds and the replay address of the first;
// events pulled from a PullPoint subscription (the camera's digital input
// is on), renewed and ended, and the cell motion detector's active cells
// (read through the client's own requests and decoded here: PackBits in
// base64), which refuse cells that do not fit.
//
//   node client.js HOST WEBPORT USER PASSWORD RTSPPORT CELLS
// CELLS: the active cells expected, row by row ("0110|1000|...").
// Prints one line per check and "onvif client: N passed, M failed"; exits 0
// only when every check passed.
"use strict";
const onvif = require("onvif");

const [host, webPort, user, password, rtspPort, expectedCells] = process.argv.slice(2);
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

// PackBits (TIFF) in base64 as "0110|1000|..." for a layout of `columns`.
function cellRows(activeCells, columns, rows) {
    const packed = Buffer.from(activeCells, "base64");
    const bytes = [];
    for (let i = 0; i < packed.length;) {
        const n = packed.readInt8(i++);
        if (n >= 0) { for (let k = 0; k <= n; k++) bytes.push(packed[i++]); }
        else if (n !== -128) { const b = packed[i++]; for (let k = 0; k < 1 - n; k++) bytes.push(b); }
    }
    const out = [];
    for (let r = 0; r < rows; r++) {
        let line = "";
        for (let c = 0; c < columns; c++) {
            const cell = r * columns + c;
            line += (bytes[cell >> 3] >> (7 - (cell & 7))) & 1 ? "1" : "0";
        }
        out.push(line);
    }
    return out.join("|");
}
// The analytics service where the client found it: GetServices (which it
// asks first) or GetCapabilities.
function analytics(cam, body, cb) {
    const service = cam.uri && cam.uri.analytics ? cam.uri.analytics : cam._parseUrl(cam.capabilities.analytics.XAddr);
    cam._request({ url: service,
        body: cam._envelopeHeader() + body + cam._envelopeFooter() }, (err, res, xml) => cb(err, xml));
}
const kAnalytics = '<GetRules xmlns="http://www.onvif.org/ver20/analytics/wsdl"><ConfigurationToken>analytics_1</ConfigurationToken></GetRules>';


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

    await step("pull-point subscription", (cb) => cam.createPullPointSubscription(cb), (subscription) =>
        check("pull-point subscription", !!subscription.subscriptionReference.address.href && cam.events.terminationTime > new Date(),
            JSON.stringify(subscription)));
    await step("events pulled", (cb) => cam.pullMessages({ messageLimit: 10 }, (err, data, xml) => cb(err, xml)), (xml) => {
        const messages = xml.split("NotificationMessage>").length - 1;
        check("events pulled: the present state of the four alarm topics", messages === 8, messages / 2 + " messages");
        check("events pulled: the digital input is on",
            /Device\/Trigger\/DigitalInput<\/[^>]*Topic>.*?Name="LogicalState" Value="true"/.test(xml), xml.slice(0, 400));
    });
    await step("renew", (cb) => cam.renew({}, cb), (data) => check("renew", !!data && !!data.terminationTime, JSON.stringify(data)));
    await step("unsubscribe", (cb) => cam.unsubscribe(cb), () => check("unsubscribe", true));

    let layout = null;
    await step("cell layout", (cb) => analytics(cam, '<GetAnalyticsModules xmlns="http://www.onvif.org/ver20/analytics/wsdl">' +
        '<ConfigurationToken>analytics_1</ConfigurationToken></GetAnalyticsModules>', cb), (xml) => {
        const m = /CellLayout Columns="(\d+)" Rows="(\d+)"/.exec(xml);
        layout = m && { columns: Number(m[1]), rows: Number(m[2]) };
        check("cell layout", !!layout, xml.slice(0, 300));
    });
    let cells = "";
    const readCells = (what) => step(what, (cb) => analytics(cam, kAnalytics, cb), (xml) => {
        const m = /Name="ActiveCells" Value="([^"]*)"/.exec(xml);
        cells = m && layout ? cellRows(m[1], layout.columns, layout.rows) : "";
        check(what, cells === expectedCells, cells);
    });
    await readCells("active cells as saved");
    // Cells that do not fit: more than the layout has, and a run cut short.
    for (const wrong of [Buffer.from([0x81, 0xFF, 0x81, 0xFF]).toString("base64"), Buffer.from([0x05, 0x01]).toString("base64")]) {
        await new Promise((resolve) => analytics(cam, '<ModifyRules xmlns="http://www.onvif.org/ver20/analytics/wsdl" xmlns:tt="http://www.onvif.org/ver10/schema">' +
            '<ConfigurationToken>analytics_1</ConfigurationToken><Rule Name="cell_motion" Type="tt:CellMotionDetector"><tt:Parameters>' +
            '<tt:SimpleItem Name="ActiveCells" Value="' + wrong + '"/></tt:Parameters></Rule></ModifyRules>', (err) => {
            check("cells that do not fit are refused (" + wrong + ")", !!err);
            resolve();
        }));
    }
    await readCells("active cells unchanged");
    finish();
});
