// Logs in to the camera given by `camera` (tiravex-page --camera sim),
// prints every event it gets in readable form, and exits with the login's
// status: 0 when the camera took the user and password.
//
//   tiravex-page --camera sim pages/login.js
//   tiravex-page --camera sim --arg password=wrong pages/login.js

var names = {
    29: "video loss", 100: "login reply", 102: "alarm state", 111: "alarm", 200: "live stream open",
    201: "talk mode 1", 202: "talk mode 2", 203: "playback progress", 204: "playback state",
    205: "playback stopped", 206: "talk started", 207: "talk stopped", 208: "device found",
    209: "view activated", 210: "secondary view logged in", 211: "device answered", 212: "view cannot open",
    213: "recording started", 214: "recording stopped", 215: "disk full", 216: "record folder failed",
    217: "link lost", 218: "alarm record time stored", 219: "pan/tilt", 220: "HTTPS port", 221: "playback end",
    300: "talk capture failed", 301: "stream stalled", 302: "recording state", 500: "state", 501: "settings",
    502: "product information"
};

function describe(args) {
    var code = args[0];
    var rest = args.slice(1);
    var name = names[code] || "event";
    if (code === 100) {
        // 133 values: the status first, the device kind at position 69.
        return name + " " + code + ": status " + rest[0] + ", device kind " + rest[67] + ", " + rest.length + " values";
    }
    return name + " " + code + (rest.length ? ": " + rest.join(", ") : "");
}

function PluginCallBack() {
    var args = Array.prototype.slice.call(arguments);
    console.log(describe(args));
    if (args[0] === 100) {
        var status = args[1];
        if (status === 0)
            view.LoginSuc();
        setTimeout(function () { host.exit(status === 0 ? 0 : 1); }, 200);
    }
}

function PluginCallBackCGI(text, length) {
    console.log("CGI reply (" + length + " bytes): " + text);
}

var password = host.args.password !== undefined ? host.args.password : camera.password;
var view = createControl({ Self: 0, x: 0, y: 0, width: 640, height: 480 });
console.log("logging in to " + camera.address + ":" + camera.port + " as " + camera.user);
view.Login(camera.address, camera.port, camera.webPort, camera.user, password, 0, 1);
setTimeout(function () { console.log("no login reply"); host.exit(2); }, 10000);
