// A camera viewer for a person: logs in to one camera, shows its live
// picture with its sound, and stays until the window is closed. The
// picture takes the mouse and keys: the wheel or Ctrl/Shift-click zooms,
// a drag moves the zoomed picture, a double click or the right-click menu
// goes full screen (Escape leaves it), and on a pan/tilt camera the menu's
// "Screen PTZ" (or a middle click, in full screen) steers it by pointing.
//
// The embedded simulated camera:
//   tiravex-page --display --timeout 0 --camera sim pages/viewer.js
// A camera on the network:
//   TIRAVEX_AUDIO=sdl tiravex-page --display --timeout 0 --arg address=192.168.1.20 \
//       --arg port=88 --arg webport=88 --arg user=admin --arg password=secret pages/viewer.js
// A camera of the standards (ONVIF and RTSP): its RTSP port as port, its HTTP
// port as webport, for example --arg port=554 --arg webport=80; the simulated
// one: tiravex-page --display --timeout 0 --camera onvif pages/viewer.js
// Optional: --arg language=en (or zh, tw), --arg width=1280 --arg height=960,
// --arg shot=FILE.png (a screenshot into --out after 3 s, then the page ends).

var args = host.args;
var sim = typeof camera !== "undefined";
var target = {
    address: args.address || (sim ? camera.address : ""),
    port: Number(args.port || (sim ? camera.port : 88)),
    webPort: Number(args.webport || args.port || (sim ? camera.webPort : 88)),
    user: args.user || (sim ? camera.user : "admin"),
    password: args.password !== undefined ? args.password : (sim ? camera.password : "")
};
var languages = { zh: 0, tw: 1, en: 2 };

var view = null;
var opened = false;

function PluginCallBack(code, status) {
    if (code === 100 && !opened) {
        if (status !== 0) {
            console.log("viewer: the camera refused the login (status " + status + ")");
            return;
        }
        opened = true;
        view.LoginSuc();
        view.Open("");
        view.OpenAudio();
        console.log("viewer: showing " + target.address + ":" + target.port + "; close the window to end");
        if (args.shot) // --arg shot=FILE.png: a screenshot after 3 s, then the page ends
            setTimeout(function () { host.screenshot(args.shot); host.exit(0); }, 3000);
    } else if (code === 217) {
        console.log("viewer: the link to the camera was lost");
    } else if (code === 301) {
        console.log("viewer: no picture for 20 s, the camera is asked again");
    } else if (code === 219) {
        console.log("viewer: pan/tilt direction " + status);
    }
}

function PluginCallBackCGI(text, length) { }

if (!target.address) {
    console.log("viewer: give the camera with --arg address=... (and port, webport, user, password), or run with --camera sim");
    host.exit(1);
} else {
    view = createControl({ Self: 0, x: 0, y: 0, width: Number(args.width || 962), height: Number(args.height || 722) });
    if (args.language in languages)
        view.SetLauguage(languages[args.language]);
    console.log("viewer: logging in to " + target.address + ":" + target.port + " as " + target.user);
    view.Login(target.address, target.port, target.webPort, target.user, target.password, 0, 1);
}
