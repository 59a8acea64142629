// The demo: one view logs in to the simulated camera, shows its live
// picture with sound, talks to it, switches the camera to Motion-JPEG,
// records a few seconds of both into AVI files, zooms in with the wheel,
// goes full screen by a double click and back with Escape, and saves
// screenshots along the way. Every event is printed.
//
//   tiravex-page --camera sim --out out/demo pages/demo.js

var view = createControl({ Self: 0, x: 20, y: 20, width: 962, height: 722 });
var started = false;

function show(args) {
    var code = args[0];
    if (code === 100)
        return "login reply: status " + args[1] + ", device kind " + args[68] + " (" + args.length + " values)";
    return "event " + Array.prototype.slice.call(args).join(", ");
}

function PluginCallBack() {
    var args = Array.prototype.slice.call(arguments);
    console.log("page got " + show(args));
    if (args[0] === 100 && args[1] !== 0) {
        console.log("the camera refused the login");
        host.exit(1);
    }
    if (args[0] === 100 && !started) {
        started = true;
        view.LoginSuc();
        view.SetLauguage(2);
        view.Open("");
        view.OpenAudio();
        view.OpenTalk();
        run();
    }
}

function PluginCallBackCGI(text, length) {
    console.log("page got a CGI reply of " + length + " bytes: " + text.replace(/\s+/g, " "));
}

function step(ms, what, action) {
    setTimeout(function () { console.log(what); action(); }, ms);
}

function run() {
    step(1500, "recording into " + host.outputFolder + "/records", function () {
        view.RecordPath = host.outputFolder + "/records";
        view.Record(1, "");
    });
    step(2000, "screenshot live-h264.png", function () { host.screenshot("live-h264.png"); });
    step(2200, "asking the camera for its device state (CGI over the road)", function () { view.SendCgiToPlugin("cmd=getDevState", 1000, 0); });
    step(2500, "the camera switches to Motion-JPEG 1280x720", function () { camera.setVideo({ codec: "mjpeg", width: 1280, height: 720, fps: 15 }); });
    step(4500, "screenshot live-mjpeg.png", function () { host.screenshot("live-mjpeg.png"); });
    step(4700, "talk blocks the camera received: ", function () { console.log(JSON.stringify(camera.talkBlocks())); });
    step(5000, "zooming in with the wheel at the picture's top left", function () {
        for (var i = 0; i < 10; ++i)
            host.mouse("wheelup", 30, 115);
    });
    step(5800, "screenshot live-zoomed.png", function () { host.screenshot("live-zoomed.png"); });
    step(6000, "zooming out, then a double click: full screen", function () {
        for (var i = 0; i < 10; ++i)
            host.mouse("wheeldown", 30, 115);
        host.mouse("down", 500, 400); host.mouse("up", 500, 400);
        host.mouse("down", 500, 400); host.mouse("up", 500, 400);
    });
    step(6800, "screenshot full-screen.png, then Escape", function () {
        host.screenshot("full-screen.png");
        host.key("press", "Escape");
    });
    step(7300, "recording stopped", function () { view.Record(0, ""); });
    step(7500, "closing", function () {
        view.CloseTalk();
        view.CloseAudio();
        view.Close();
        host.exit(0);
    });
}

console.log("logging in to the simulated camera at " + camera.address + ":" + camera.port);
view.Login(camera.address, camera.port, camera.webPort, camera.user, camera.password, 0, 1);
