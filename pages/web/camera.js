// camera.js: what the camera pages (viewer, grid, tile, playback, areas)
// share: the camera form that remembers its last camera and language in
// the browser (never the password), logging in with a fresh control, what
// the control's reports and the camera's CGI answers mean in words, a
// picture that fits the window, and logging in again after a wait that
// grows.
var CameraPage = (function () {
    'use strict';

    var STORE_KEY = 'tiravex.camera';
    // The login reply's status (event 100).
    var LOGIN = { ok: 0, badAccount: 1, unreachable: -1, silent: -2 };
    var EVENT = {
        videoLoss: 29, login: 100, alarmState: 102, alarm: 111, streamOpen: 200, talkStarted: 206, talkStopped: 207,
        viewFailed: 212, recordingStarted: 213, recordingStopped: 214, diskFull: 215, folderFailed: 216, linkLost: 217,
        talkFailed: 300, stalled: 301, activated: 209, state: 500,
        playbackProgress: 203, playbackState: 204, playbackClosed: 205, playbackEnd: 221
    };
    // The control's language numbers (SetLauguage).
    var LANGUAGE = { simplified: 0, traditional: 1, english: 2 };
    var ALARM_KINDS = ['motion', 'sound', 'alarm input', 'temperature'];
    // An alarm report's first value: 0 the short form (the kind third), 1 the
    // long form (the kind last).
    var ALARM_SHORT = 0, ALARM_SHORT_KIND_AT = 3;
    var RETRY_FIRST_S = 1, RETRY_LONGEST_S = 30, SECOND_MS = 1000;
    // A CGI answer's <result>.
    var CGI = { ok: 0, failed: -1, badAccount: -2, unsupported: -3, noAnswer: -5 };
    var PICTURE_RATIO = 3 / 4, PICTURE_MIN_WIDTH = 240;

    // The fields of a camera form, by the ids the pages give them.
    var FIELDS = ['address', 'port', 'webport', 'user', 'language'];

    function element(id) { return document.getElementById(id); }

    function recalled() {
        try {
            var text = window.localStorage.getItem(STORE_KEY);
            var values = text ? JSON.parse(text) : null;
            return values && typeof values === 'object' ? values : null;
        } catch (e) {
            return null; // storage off, or not ours
        }
    }

    // Keeps the form's camera, user and language; never the password.
    function remember() {
        var values = recalled() || {}; // a page without a language field keeps the language
        FIELDS.forEach(function (id) { if (element(id)) values[id] = element(id).value; });
        try { window.localStorage.setItem(STORE_KEY, JSON.stringify(values)); } catch (e) { /* storage off: nothing kept */ }
    }

    // Fills the form with what this browser remembers; the simulated camera
    // of tiravex-serve, whose ports may change from one run to the next,
    // fills in its own address, ports and account (its password too, as it
    // is the server's own).
    function fillForm() {
        var kept = recalled();
        if (kept)
            FIELDS.forEach(function (id) { if (element(id) && kept[id] !== undefined && kept[id] !== '') element(id).value = kept[id]; });
        if (typeof camera != 'undefined') {
            var sim = { address: camera.address, port: camera.port, webport: camera.webPort, user: camera.user };
            Object.keys(sim).forEach(function (id) { if (element(id)) element(id).value = sim[id]; });
            if (element('password')) element('password').value = camera.password;
        }
    }

    function account() {
        return {
            address: element('address').value.trim(), port: Number(element('port').value),
            webPort: Number(element('webport').value), user: element('user').value,
            password: element('password').value
        };
    }

    function cameraName(a) { return a.address + ':' + a.port; }

    // A login that did not succeed, in words.
    function loginWords(status, a) {
        var name = cameraName(a);
        if (status == LOGIN.badAccount) return 'Wrong user name or password for ' + name;
        if (status == LOGIN.unreachable) return 'The camera at ' + name + ' cannot be reached';
        if (status == LOGIN.silent) return 'The camera at ' + name + ' does not answer';
        return 'The camera at ' + name + ' did not let us in';
    }

    // What a report of the control means to a person, or null for the
    // reports a person need not read (their codes stay in the details).
    function eventWords(args) {
        var code = args[0];
        switch (code) {
        case EVENT.login: return args[1] == LOGIN.ok ? 'Logged in' : null;
        case EVENT.streamOpen: return 'The live picture is open';
        case EVENT.linkLost: return 'The link to the camera was lost';
        case EVENT.videoLoss: return 'The camera lost its video input';
        case EVENT.diskFull: return 'The disk is full: recording stopped';
        case EVENT.folderFailed: return 'The recording folder cannot be written';
        case EVENT.recordingStarted: return 'Recording started';
        case EVENT.recordingStopped: return 'Recording stopped';
        case EVENT.talkStarted: return 'Talking to the camera';
        case EVENT.talkStopped: return 'Talk ended';
        case EVENT.talkFailed: return 'The microphone failed: talk stopped';
        case EVENT.stalled: return 'The picture stopped coming: sound and talk were stopped';
        case EVENT.viewFailed: return 'The picture cannot be shown';
        case EVENT.alarm: {
            var kind = args[1] == ALARM_SHORT ? args[ALARM_SHORT_KIND_AT] : args[args.length - 1];
            return 'Alarm: ' + (ALARM_KINDS[kind] || 'alarm') + ' at the camera';
        }
        case EVENT.alarmState: return args[1] ? 'The camera is in alarm' : 'The camera\'s alarm ended';
        default: return null;
        }
    }

    // Tries `connect` again after 1, 2, 4 ... 30 s, saying why and how long.
    function Retry(say, connect) {
        this.say = say;
        this.connect = connect;
        this.wanted = false;
        this.waitS = 0;
        this.tries = 0;
        this.timer = null;
    }
    Retry.prototype.reset = function (wanted) {
        clearTimeout(this.timer);
        this.wanted = wanted;
        this.waitS = 0;
        this.tries = 0;
    };
    Retry.prototype.stop = function () { clearTimeout(this.timer); };
    Retry.prototype.later = function (why) {
        var self = this;
        clearTimeout(this.timer);
        this.waitS = this.waitS ? Math.min(this.waitS * 2, RETRY_LONGEST_S) : RETRY_FIRST_S;
        this.tries++;
        var left = this.waitS;
        (function tick() {
            if (left <= 0) { self.connect(self.tries); return; }
            self.say(why + '. Trying again in ' + left + ' s.');
            left--;
            self.timer = setTimeout(tick, SECOND_MS);
        })();
    };

    // A fresh control in place of `old` (a control logs in once); the old
    // one is released and its camera link closes.
    function freshControl(old, width, height) {
        var control = document.createElement('object');
        control.setAttribute('classid', old.getAttribute('classid'));
        control.setAttribute('width', width);
        control.setAttribute('height', height);
        if (old.style.cssText) control.style.cssText = old.style.cssText;
        old.removeAttribute('id');
        if (window.Tiravex) Tiravex.release(old);
        old.parentNode.replaceChild(control, old);
        control.id = 'IPCam';
        if (window.Tiravex) Tiravex.attach(control);
        return control;
    }

    // Logs in with a fresh control in place of the page's #IPCam; once the
    // camera lets us in (`loginReplied`), the control is started in the
    // form's language and handed to `then`. `say` tells the person.
    var pending = null;
    function login(say, then) {
        var a = account();
        remember();
        var old = element('IPCam');
        var control = freshControl(old, old.getAttribute('width'), old.getAttribute('height'));
        pending = { account: a, say: say, then: then };
        say('Connecting to ' + cameraName(a) + '...');
        control.Login(a.address, a.port, a.webPort, a.user, a.password, 0, 1);
        return a;
    }

    // The login report (event 100) of the control that `login` made.
    function loginReplied(status) {
        var p = pending;
        if (!p) return;
        pending = null;
        if (status != LOGIN.ok) {
            p.say(loginWords(status, p.account));
            return;
        }
        var control = element('IPCam');
        control.LoginSuc();
        if (element('language')) control.SetLauguage(Number(element('language').value));
        p.then(control);
    }

    // A number the camera's CGI answer holds in <name>, or null.
    function cgiValue(text, name) {
        var found = new RegExp('<' + name + '>\\s*(-?\\d+)\\s*</' + name + '>').exec(String(text));
        return found ? Number(found[1]) : null;
    }

    // The camera's CGI answer in words; `done` says what it did when it succeeded.
    function cgiWords(text, done) {
        var result = cgiValue(text, 'result');
        if (result === CGI.ok) return 'The camera ' + done;
        if (result === CGI.badAccount) return 'The camera refused the user name or password';
        if (result === CGI.unsupported) return 'The camera cannot do this';
        if (result === CGI.noAnswer) return 'The camera did not answer in time';
        return 'The camera could not do it' + (result === null ? '' : ' (result ' + result + ')');
    }

    // Sizes the control #IPCam to the largest picture of the camera's
    // ratio that #picture's width and the window's height (less
    // `roomBelow`) hold; returns its [width, height].
    function fitPicture(roomBelow) {
        var box = element('picture');
        var tall = window.innerHeight - box.getBoundingClientRect().top - roomBelow;
        var width = Math.floor(Math.max(PICTURE_MIN_WIDTH, Math.min(box.clientWidth, tall / PICTURE_RATIO)));
        var height = Math.floor(width * PICTURE_RATIO);
        var control = element('IPCam');
        if (control.getAttribute('width') != width) control.setAttribute('width', width);
        if (control.getAttribute('height') != height) control.setAttribute('height', height);
        return [width, height];
    }

    // The one-line camera form of the single-picture pages, made in each
    // element of class "camera-form" once the page is read.
    function pair(label, field) { return '<span class="pair">' + label + ' ' + field + '</span> '; }
    var FORM = pair('Address', '<input id="address" type="text">')
        + pair('Media port', '<input id="port" type="text" inputmode="numeric" value="88">')
        + pair('Web port', '<input id="webport" type="text" inputmode="numeric" value="88">')
        + pair('User', '<input id="user" type="text" value="admin">') + pair('Password', '<input id="password" type="password">')
        + '<select id="language"><option value="' + LANGUAGE.english + '">English</option>'
        + '<option value="' + LANGUAGE.simplified + '">简体中文</option><option value="' + LANGUAGE.traditional + '">繁體中文</option></select>';
    document.addEventListener('DOMContentLoaded', function () {
        Array.prototype.forEach.call(document.querySelectorAll('.camera-form'), function (box) {
            box.innerHTML = FORM;
            element('language').addEventListener('change', remember);
        });
    });

    // Minutes and seconds.
    function timeText(seconds) {
        return Math.floor(seconds / 60) + ':' + ('0' + seconds % 60).slice(-2);
    }

    return {
        LOGIN: LOGIN, EVENT: EVENT, LANGUAGE: LANGUAGE, CGI: CGI,
        remember: remember, fillForm: fillForm, account: account, cameraName: cameraName,
        loginWords: loginWords, eventWords: eventWords, Retry: Retry, freshControl: freshControl,
        login: login, loginReplied: loginReplied, cgiValue: cgiValue, cgiWords: cgiWords,
        fitPicture: fitPicture, timeText: timeText, recalled: recalled
    };
})();
