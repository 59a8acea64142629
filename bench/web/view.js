// The page host's twin of view.html: one control showing the camera given
// by --arg address=A --arg port=P --arg webport=W, for --arg seconds=S.
var args = host.args;
var view = createControl({ Self: 0, x: 0, y: 0, width: Number(args.width || 1282), height: Number(args.height || 722) });
function PluginCallBack(code, status) {
    if (code === 100 && status === 0) {
        view.LoginSuc();
        view.Open("");
    }
}
function PluginCallBackCGI(text, length) { }
view.Login(args.address, Number(args.port), Number(args.webport), args.user || "admin", args.password || "", 0, 1);
setTimeout(function () { host.exit(0); }, Number(args.seconds || 10) * 1000);
