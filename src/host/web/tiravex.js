// /tiravex.js: the Tiravex control for a page in a current browser. The
// control itself runs in tiravex-serve, beside the browser; this script
// stands it in for the page.
//
// Every <object> of the control (its class id, or type="application/x-tiravex")
// gets the control's script members, with their own names: methods are
// functions and properties are properties, and calls that return a value
// return it at once (synchronous requests). The page's PluginCallBack and
// PluginCallBackCGI get every event with the arguments the control gives,
// in order; events that came while a member ran are delivered before it
// returns, as the control made them. In the object's place the page shows
// the control's own picture, which takes the mouse, the wheel and the keys;
// the camera's sound plays through Web Audio, and the microphone is heard
// by the control while it talks. Windows the control opens (snapshots, the
// About box, full screen) open on the page; full screen uses the browser's.
//
// An <object> taken out of the page releases its control. A page that logs
// in again makes a fresh control: it adds a new <object> (Tiravex.attach(o)
// makes its members usable at once) and removes or releases the old one
// (Tiravex.release(o)). What a control saves through a chooser (a snapshot
// window's "Save") is the browser's download; Tiravex.recordings(callback)
// lists the page's recordings, and Tiravex.recordingUrl(id) fetches one.
//
// window.Tiravex tells the state: Tiravex.session, Tiravex.screen (the
// controls' screen, which they lie within), Tiravex.stats (pictures and
// their latencies), Tiravex.onsound(device, samples), Tiravex.setVolume(0..1),
// Tiravex.microphoneLevel (0..1 while talking), Tiravex.videoPath (how the
// page shows the frames it decodes: 'track', a video element, or 'canvas'),
// Tiravex.picture(canvas) (what a control's canvas shows, with the video under it)
// and Tiravex.resumeSound() (sound needs a person's gesture in most browsers).
// On a touch screen a tap on a picture is a click, a long press the right
// button (the control's menu), a finger that moves first drags, and two
// fingers pinch to zoom (the wheel).
(function () {
    'use strict';
    if (window.Tiravex) return;

    var CLASS_ID = 'FE4F5263-11D5-4724-95BA-A978983B6369';
    var TYPE = 'application/x-tiravex';
    var CALLBACKS = ['PluginCallBack', 'PluginCallBackCGI'];
    var ITEM_HEADER = 12, PICTURE_HEADER = 40, VIDEO_HEADER = 72, VIDEO_CODEC_CHARS = 16;
    var ITEM = { event: 1, layout: 2, picture: 3, sound: 4, ping: 5, end: 6, microphone: 7, cursor: 8, download: 9, video: 10 };
    var CODING = { h264: 1, mjpeg: 2 };
    var PNG_FIRST_BYTE = 0x89;
    var VIDEO_QUEUE_MAX = 8;  // frames waiting in a decoder; beyond, the next key frame is waited for
    var VIDEO_FAILURES = 3;   // decoder failures before the coding comes as pictures again
    var VIDEO_FORGET_MS = 15000; // a stream without frames this long (its control released or long silent) lets its decoder go
    var DOWNLOAD_URL_MS = 60000;
    var SAMPLE_RATE = 8000;
    var MOD_SHIFT = 1, MOD_CONTROL = 2;
    var VK_ESCAPE = 27;
    var SOUND_LEAD = 0.08, SOUND_MAX_LEAD = 0.6;
    var TALK_BATCH_MS = 100;
    var RECONNECT_MS = 1000, RECONNECT_TRIES = 10;
    var LATENCIES_KEPT = 20000;
    var FOLLOW_MS = 1000;
    var LEAVE_ESCAPES = 3, LEAVE_CHECK_MS = 400;
    var PINCH_STEP = 30;       // CSS pixels of change between two fingers for one wheel step
    var LONG_PRESS_MS = 600, TOUCH_SLOP = 10; // a finger held this long without moving this far (CSS pixels) asks for the menu
    var WINDOW_SHARE = 0.8;   // a window of the control takes at most this share of the page's view, each way

    var server = window.__tiravexServer || {};
    var base = null;          // '/tiravex/s/<session>'
    var delivered = 0;        // the last event delivered to the page
    var controls = {};        // handle -> {element, canvas, rect}
    var floating = {};        // view id -> {box, canvas, rect}
    var views = {};           // view id -> {canvas, rect, chain}
    var ended = false;

    var Tiravex = {
        session: null,
        stats: { pictures: 0, bytes: 0, latencies: [], workUs: [], events: 0, sound: 0, video: { frames: 0, bytes: 0, latencies: [], dropped: 0, failures: 0, streams: {} } },
        // The codings this page decodes itself (the camera's frames come as they are).
        passthrough: [],
        onsound: null,
        microphone: false,
        resumeSound: function () { if (sound.context) sound.context.resume(); },
        // The camera's sound plays at this share of its level (0 is mute).
        volume: 1,
        // The microphone's level while the control talks (0..1).
        microphoneLevel: 0,
        setVolume: function (v) {
            Tiravex.volume = Math.max(0, Math.min(1, Number(v) || 0));
            if (sound.gain) sound.gain.gain.value = Tiravex.volume;
        }
    };
    window.Tiravex = Tiravex;

    function nowMs() { return performance.timeOrigin + performance.now(); }

    function syncJson(path, body) {
        var x = new XMLHttpRequest();
        x.open('POST', path, false);
        x.setRequestHeader('Content-Type', 'application/json');
        try {
            x.send(JSON.stringify(body));
        } catch (e) {
            return { error: String(e) };
        }
        if (x.status !== 200) return { error: x.status + ' ' + x.responseText };
        try { return JSON.parse(x.responseText); } catch (e) { return { error: 'not JSON' }; }
    }

    // ---- the simulated camera (tiravex-serve --camera sim), as page scripts know it ----
    // Its account comes from a request that only the server's own pages may make and read.
    if (server.camera && !window.camera) {
        var camera = {};
        var account = syncJson('/tiravex/camera/account', {}).value || {};
        ['address', 'port', 'webPort', 'user', 'password', 'recordings'].forEach(function (k) { camera[k] = account[k]; });
        ['sendControl', 'stallVideo', 'dropLink', 'setVideo', 'setAudio', 'alarm', 'snapshot', 'ignoreCgi', 'delayCgi',
            'cgiLog', 'roadLog', 'talkBlocks', 'roadsOpen', 'channelsOpen'].forEach(function (name) {
            camera[name] = function () {
                var answer = syncJson('/tiravex/camera/' + name, { args: Array.prototype.slice.call(arguments) });
                if (answer.error) console.warn('tiravex: camera.' + name + ': ' + answer.error);
                return answer.value;
            };
        });
        window.camera = camera;
    }

    // ---- the session ----
    function ensureSession() {
        if (base || ended) return !!base;
        // The server takes a screen up to its largest (longer pages scroll over it).
        var largest = server.maxScreen || [Infinity, Infinity];
        var screenWidth = Math.min(Math.max(window.screen.width || 0, document.documentElement.scrollWidth || 0, 1280), largest[0]);
        var screenHeight = Math.min(Math.max(window.screen.height || 0, document.documentElement.scrollHeight || 0, 720), largest[1]);
        Tiravex.passthrough = passthroughCodings();
        var answer = syncJson('/tiravex/session', { screen: [screenWidth, screenHeight], callbacks: CALLBACKS, passthrough: Tiravex.passthrough });
        if (answer.error || !answer.session) {
            console.error('tiravex: no session: ' + answer.error);
            ended = true;
            return false;
        }
        Tiravex.session = answer.session;
        Tiravex.screen = [screenWidth, screenHeight]; // the controls' screen: they lie inside it
        base = '/tiravex/s/' + answer.session;
        openStream(0);
        window.addEventListener('pagehide', function () {
            if (base) navigator.sendBeacon(base + '/close');
        });
        return true;
    }

    // The codings the page can decode itself: H.264 through WebCodecs,
    // Motion-JPEG as the JPEG it is. A page (or its address, with
    // tiravex=jpeg) may ask for the control's pictures instead.
    function passthroughCodings() {
        var options = window.TiravexOptions || {};
        if (options.passthrough === false || /[?&]tiravex=jpeg(&|$)/.test(location.search)) return [];
        var codings = [];
        if (typeof VideoDecoder === 'function' && typeof EncodedVideoChunk === 'function') codings.push('h264');
        if (typeof createImageBitmap === 'function') codings.push('mjpeg');
        return codings;
    }

    // ---- events ----
    function deliver(event) {
        if (!event || event[0] <= delivered) return;
        delivered = event[0];
        Tiravex.stats.events++;
        var f = window[event[1]];
        if (typeof f !== 'function') return;
        try {
            f.apply(window, event[2]);
        } catch (e) {
            setTimeout(function () { throw e; }, 0);
        }
    }

    // ---- members ----
    function encodeArg(v) {
        if (v === undefined || typeof v === 'function' || (typeof v === 'object' && v !== null)) return { u: 1 };
        return v;
    }

    function callMember(handle, op, name, args) {
        var answer = syncJson(base + '/call', { control: handle, op: op, name: name, args: args.map(encodeArg), have: delivered });
        (answer.events || []).forEach(deliver);
        if (answer.error) {
            console.warn('tiravex: ' + name + ': ' + answer.error);
            return undefined;
        }
        if (answer.hr < 0) console.warn('tiravex: ' + name + ' failed (0x' + (answer.hr >>> 0).toString(16) + ')');
        return Object.prototype.hasOwnProperty.call(answer, 'value') ? answer.value : undefined;
    }

    function defineMembers(element, handle, members) {
        members.forEach(function (m) {
            var name = m[0];
            if (m[1] === 1) {
                Object.defineProperty(element, name, {
                    configurable: true, writable: true,
                    value: function () { return callMember(handle, 'call', name, Array.prototype.slice.call(arguments)); }
                });
            } else {
                Object.defineProperty(element, name, {
                    configurable: true,
                    get: function () { return callMember(handle, 'get', name, []); },
                    set: function (v) { callMember(handle, 'set', name, [v]); }
                });
            }
        });
    }

    // ---- the control's <object> elements ----
    function isControl(node) {
        if (!node || node.nodeName !== 'OBJECT') return false;
        if ((node.getAttribute('type') || '').toLowerCase() === TYPE) return true;
        var id = (node.getAttribute('classid') || '').toUpperCase().replace(/^CLSID:/, '').replace(/[{}\s]/g, '');
        return id === CLASS_ID;
    }

    function lengthOf(element, attribute, parentLength) {
        var text = element.getAttribute(attribute);
        if (text) {
            if (/%$/.test(text)) return Math.round(parentLength * parseFloat(text) / 100);
            if (!isNaN(parseFloat(text))) return Math.round(parseFloat(text));
        }
        var style = element.style[attribute];
        if (style && /px$/.test(style)) return Math.round(parseFloat(style));
        return 0;
    }

    function upgrade(element) {
        if (element.__tiravex || !ensureSession()) return !!element.__tiravexHandle;
        element.__tiravex = true;
        var params = {};
        Array.prototype.forEach.call(element.getElementsByTagName('param'), function (p) {
            if (p.getAttribute('name')) params[p.getAttribute('name')] = p.getAttribute('value') || '';
        });
        var parentWidth = element.parentNode && element.parentNode.clientWidth || 0;
        var parentHeight = element.parentNode && element.parentNode.clientHeight || 0;
        var width = lengthOf(element, 'width', parentWidth), height = lengthOf(element, 'height', parentHeight);

        // The picture is the object's fallback content, so the object's own
        // style (display, visibility, position) still places it.
        var canvas = document.createElement('canvas');
        canvas.width = Math.max(width, 1);
        canvas.height = Math.max(height, 1);
        canvas.style.cssText = 'display:block;width:' + width + 'px;height:' + height + 'px;background:#000;outline:none;touch-action:none';
        canvas.className = 'tiravex-picture';
        element.appendChild(canvas);
        var box = canvas.getBoundingClientRect();
        var x = Math.round(box.left + window.scrollX), y = Math.round(box.top + window.scrollY);

        var answer = syncJson(base + '/create', { params: params, rect: [x, y, width, height] });
        if (answer.error || !answer.control) {
            console.error('tiravex: the control could not be made: ' + answer.error);
            return false;
        }
        var handle = answer.control;
        var sizes = new MutationObserver(function () {
            var w = lengthOf(element, 'width', parentWidth), h = lengthOf(element, 'height', parentHeight);
            canvas.style.width = w + 'px';
            canvas.style.height = h + 'px';
            followPage();
        });
        controls[handle] = { element: element, canvas: canvas, sent: [x, y, width, height].join(), sizes: sizes };
        views[handle] = { canvas: canvas, rect: [x, y, width, height], chain: Promise.resolve() };
        element.__tiravexHandle = handle;
        defineMembers(element, handle, answer.members || []);
        takeInput(canvas, handle);
        sizes.observe(element, { attributes: true, attributeFilter: ['width', 'height'] });
        return true;
    }

    // The page let the object go (removed it, or said so): its control
    // closes, and what it said while closing is delivered now. The element's
    // members answer nothing afterwards.
    function release(element) {
        var handle = element && element.__tiravexHandle;
        if (!handle || !controls[handle]) return false;
        var c = controls[handle];
        c.sizes.disconnect();
        if (c.canvas.parentNode) c.canvas.parentNode.removeChild(c.canvas);
        if (views[handle] && views[handle].layer) views[handle].layer.element.remove();
        delete controls[handle];
        delete views[handle];
        element.__tiravexHandle = 0;
        var answer = syncJson(base + '/destroy', { control: Number(handle), have: delivered });
        (answer.events || []).forEach(deliver);
        return !answer.error;
    }

    // A page that makes a fresh control (a new login) adds a new <object>
    // and may use it at once, before the browser reports the addition.
    Tiravex.attach = function (element) { return isControl(element) && upgrade(element); };
    Tiravex.release = release;

    // What the object's live view knows of its picture: {width, height,
    // frames (drawn so far), zoom (level 0..27), zoomRect}, or null.
    Tiravex.view = function (element) {
        var handle = element && element.__tiravexHandle;
        if (!handle || !controls[handle]) return null;
        var answer = syncJson(base + '/view', { control: Number(handle) });
        return answer.error ? null : answer;
    };

    // Turns the wheel `steps` times (out when negative) at the middle of
    // the object's picture, as a person would.
    Tiravex.wheel = function (element, steps) {
        var handle = element && element.__tiravexHandle;
        var view = handle && views[handle];
        if (!view) return;
        for (var i = 0; i < Math.abs(steps); i++)
            sendInput({ t: 'mouse', a: 'wheel', x: view.rect[0] + Math.floor(view.rect[2] / 2), y: view.rect[1] + Math.floor(view.rect[3] / 2), m: 0, w: steps > 0 ? 1 : -1 });
    };

    // The recordings this page's controls made, and those of the same
    // cameras: callback(list, error), each {id, name, camera, time, ms, bytes};
    // Tiravex.recordingUrl(id) downloads one.
    Tiravex.recordings = function (callback) {
        if (!base) { callback([], 'no session'); return; }
        fetch(base + '/recordings', { cache: 'no-store' }).then(function (r) { return r.json(); }).then(function (answer) {
            callback(answer.recordings || [], answer.error || null);
        }).catch(function (e) { callback([], String(e)); });
    };
    Tiravex.recordingUrl = function (id) { return base ? base + '/recording/' + Number(id) : null; };

    // The controls lie on their page's screen where their pictures lie on
    // the page, so that what they open (menus, snapshot windows) opens
    // beside them: they follow the page's layout as it settles and changes.
    function followPage() {
        if (!base || ended) return;
        Object.keys(controls).forEach(function (handle) {
            var c = controls[handle];
            var box = c.canvas.getBoundingClientRect();
            var rect = [Math.round(box.left + window.scrollX), Math.round(box.top + window.scrollY), Math.round(box.width), Math.round(box.height)];
            if (rect.join() === c.sent) return;
            c.sent = rect.join();
            syncJson(base + '/resize', { control: Number(handle), rect: rect });
        });
    }
    window.addEventListener('load', followPage);
    window.addEventListener('resize', followPage);
    setInterval(followPage, FOLLOW_MS);
    setInterval(forgetVideo, FOLLOW_MS);

    function scan(root) {
        if (isControl(root)) upgrade(root);
        if (root.getElementsByTagName)
            Array.prototype.forEach.call(root.getElementsByTagName('object'), function (o) { if (isControl(o)) upgrade(o); });
    }

    // Objects are made as the parser meets them, before the scripts after them run.
    // Objects taken out of the page release their controls.
    function dropRemoved(root) {
        Object.keys(controls).forEach(function (handle) {
            var element = controls[handle] && controls[handle].element;
            if (element && (element === root || (root.contains && root.contains(element))) && !document.contains(element)) release(element);
        });
    }
    new MutationObserver(function (records) {
        records.forEach(function (r) {
            Array.prototype.forEach.call(r.removedNodes, dropRemoved);
            Array.prototype.forEach.call(r.addedNodes, scan);
        });
    }).observe(document, { childList: true, subtree: true });
    scan(document);
    document.addEventListener('DOMContentLoaded', function () { scan(document); });

    // ---- the stream: events, views, pictures, sound ----
    function openStream(tries) {
        if (ended) return;
        fetch(base + '/stream?have=' + delivered, { cache: 'no-store' }).then(function (response) {
            if (response.status === 404 || response.status === 403) {
                end('the session is gone (' + response.status + ')');
                return;
            }
            var reader = response.body.getReader();
            var pending = new Uint8Array(0);
            function pump() {
                return reader.read().then(function (part) {
                    if (part.done) throw new Error('the stream ended');
                    var joined = new Uint8Array(pending.length + part.value.length);
                    joined.set(pending, 0);
                    joined.set(part.value, pending.length);
                    var at = 0;
                    while (joined.length - at >= ITEM_HEADER) {
                        var view = new DataView(joined.buffer, joined.byteOffset + at, ITEM_HEADER);
                        var length = view.getUint32(8, true);
                        if (joined.length - at - ITEM_HEADER < length) break;
                        handleItem(joined[at], view.getUint32(4, true), joined.subarray(at + ITEM_HEADER, at + ITEM_HEADER + length));
                        at += ITEM_HEADER + length;
                    }
                    pending = joined.slice(at);
                    if (!ended) return pump();
                });
            }
            tries = 0;
            return pump();
        }).catch(function () {
            if (ended) return;
            if (tries + 1 >= RECONNECT_TRIES) { end('the server does not answer'); return; }
            setTimeout(function () { openStream(tries + 1); }, RECONNECT_MS);
        });
    }

    var decoder = new TextDecoder();

    function handleItem(type, number, payload) {
        switch (type) {
        case ITEM.event: deliver(JSON.parse(decoder.decode(payload))); break;
        case ITEM.layout: applyLayout(JSON.parse(decoder.decode(payload))); break;
        case ITEM.picture: drawPicture(number, payload); break;
        case ITEM.video: takeVideo(number, payload); break;
        case ITEM.sound: playSound(number, payload); break;
        case ITEM.microphone: microphone(decoder.decode(payload) === '1'); break;
        case ITEM.cursor: showCursor(JSON.parse(decoder.decode(payload))); break;
        case ITEM.download: download(decoder.decode(payload.subarray(0, number)), payload.slice(number)); break;
        case ITEM.end: end(decoder.decode(payload)); break;
        default: break;
        }
    }

    function end(why) {
        if (ended) return;
        ended = true;
        console.warn('tiravex: ' + why);
        microphone(false);
    }

    function drawPicture(id, payload) {
        var v = views[id];
        if (!v) return;
        var h = new DataView(payload.buffer, payload.byteOffset, PICTURE_HEADER);
        var x = h.getInt32(4, true), y = h.getInt32(8, true);
        var viewWidth = h.getUint32(20, true), viewHeight = h.getUint32(24, true);
        var workUs = h.getUint32(28, true), changedMs = h.getFloat64(32, true);
        var jpeg = payload.slice(PICTURE_HEADER);
        // Over video the picture is a PNG, transparent where the video shows.
        var png = jpeg[0] === PNG_FIRST_BYTE;
        var decoding = createImageBitmap(new Blob([jpeg], { type: png ? 'image/png' : 'image/jpeg' }));
        // Decoded at once, drawn in order: each picture may be a part of the one before.
        v.chain = Promise.all([decoding, v.chain]).then(function (done) {
            var bitmap = done[0];
            var canvas = v.canvas;
            if (canvas.width !== viewWidth || canvas.height !== viewHeight) {
                canvas.width = viewWidth;
                canvas.height = viewHeight;
            }
            if (png && !v.layer) makeLayer(v);
            var ctx = canvas.getContext('2d');
            // Over video the control's drawing keeps its transparent parts.
            if (v.layer) ctx.clearRect(x, y, bitmap.width, bitmap.height);
            ctx.drawImage(bitmap, x, y);
            bitmap.close();
            var s = Tiravex.stats;
            s.pictures++;
            s.bytes += jpeg.length;
            if (s.latencies.length < LATENCIES_KEPT) {
                s.latencies.push(nowMs() - changedMs);
                s.workUs.push(workUs);
            }
        }).catch(function () { });
    }

    // ---- video the page decodes itself, under the control's own drawing ----
    // A view over video gets a video layer under its canvas, and its canvas
    // then holds only the control's drawing, transparent where the video
    // shows; the browser's compositor lays one over the other. Each stream's
    // decoded frames go into a video track that a <video> element of every
    // view it lies under plays, so that the page draws nothing a frame. A
    // browser without such tracks (or a page that asks, with tiravex=canvas)
    // draws each frame into a canvas in the layer instead.
    var videos = {};          // stream number -> {decoder, codec, at, waitKey, failures, chain, track, writer, shown}
    var TRACKS = typeof MediaStreamTrackGenerator === 'function' && typeof VideoFrame === 'function' &&
        !/[?&]tiravex=canvas(&|$)/.test(location.search) && (window.TiravexOptions || {}).videoTrack !== false;
    var VIDEO_WRITES_MAX = 2; // frames handed to a stream's track and not yet taken; beyond, a frame is dropped
    Tiravex.videoPath = TRACKS ? 'track' : 'canvas';

    function makeLayer(v) {
        var layer = document.createElement('div');
        layer.className = 'tiravex-video';
        // After the canvas (which stays its element's first child), moved
        // up over it by fitLayer, and under it.
        layer.style.cssText = 'position:absolute;z-index:0;overflow:hidden;pointer-events:none;background:#000';
        v.canvas.parentNode.insertBefore(layer, v.canvas.nextSibling);
        v.canvas.style.position = 'relative';
        v.canvas.style.zIndex = '1';
        v.canvas.style.background = 'transparent';
        v.layer = { element: layer, size: '', streams: {}, canvas: null };
    }

    // The layer covers the canvas's picture (a canvas shown smaller keeps its ratio, centred).
    function fitLayer(v) {
        var c = v.canvas, cw = c.clientWidth, ch = c.clientHeight;
        var scale = Math.min(cw / c.width, ch / c.height) || 1;
        var w = c.width * scale, h = c.height * scale;
        var size = [cw, ch, c.width, c.height].join();
        if (size === v.layer.size) return;
        v.layer.size = size;
        var st = v.layer.element.style;
        st.marginLeft = (cw - w) / 2 + 'px';
        st.marginTop = (ch - h) / 2 - ch + 'px';
        st.width = w + 'px';
        st.height = h + 'px';
        if (v.layer.canvas) { v.layer.canvas.width = c.width; v.layer.canvas.height = c.height; }
    }

    // What view `canvas` shows, as a canvas: the video layer under the
    // control's drawing (the canvas itself where there is no video).
    Tiravex.picture = function (canvas) {
        var v = null;
        Object.keys(views).forEach(function (id) { if (views[id].canvas === canvas) v = views[id]; });
        if (!v || !v.layer) return canvas;
        var out = document.createElement('canvas');
        out.width = canvas.width;
        out.height = canvas.height;
        var ctx = out.getContext('2d');
        ctx.fillStyle = '#000';
        ctx.fillRect(0, 0, out.width, out.height);
        if (v.layer.canvas) ctx.drawImage(v.layer.canvas, 0, 0);
        Object.keys(v.layer.streams).forEach(function (n) {
            var shown = v.layer.streams[n], c = shown.clip, t = shown.inView, s = shown.source;
            if (!c || shown.video.readyState < 2) return;
            ctx.save();
            ctx.beginPath();
            ctx.rect(c[0], c[1], c[2], c[3]);
            ctx.clip();
            ctx.drawImage(shown.video, s[0], s[1], s[2] - s[0], s[3] - s[1], t[0], t[1], t[2], t[3]);
            ctx.restore();
        });
        ctx.drawImage(canvas, 0, 0);
        return out;
    };

    function percent(part, whole) { return (100 * part / whole) + '%'; }

    // Stream `st`'s element in view `v`: its picture's `source` rectangle
    // at the view's `inView` one, clipped to the view.
    function placeVideo(v, st, picture, at, inView) {
        var c = v.canvas;
        var clip = intersect(inView, [0, 0, c.width, c.height]);
        var shown = v.layer.streams[st.number];
        if (!clip) {
            if (shown) { shown.box.remove(); delete v.layer.streams[st.number]; }
            return;
        }
        if (!shown) {
            var box = document.createElement('div');
            var video = document.createElement('video');
            video.muted = true;
            video.autoplay = true;
            video.playsInline = true;
            video.srcObject = st.media;
            video.style.cssText = 'position:absolute;display:block;object-fit:fill';
            box.style.cssText = 'position:absolute;overflow:hidden';
            box.appendChild(video);
            v.layer.element.appendChild(box);
            shown = v.layer.streams[st.number] = { box: box, video: video, place: '' };
            video.play().catch(function () { });
            if (!st.watched || !st.watched.isConnected) watchVideo(st, video);
        }
        var s = at.source, sw = s[2] - s[0], sh = s[3] - s[1];
        var pw = picture.displayWidth || picture.width, ph = picture.displayHeight || picture.height;
        var place = [c.width, c.height, clip, inView, s, pw, ph].join();
        if (place === shown.place) return;
        shown.clip = clip; shown.inView = inView; shown.source = s;
        shown.place = place;
        var b = shown.box.style;
        b.left = percent(clip[0], c.width); b.top = percent(clip[1], c.height);
        b.width = percent(clip[2], c.width); b.height = percent(clip[3], c.height);
        // The whole picture, scaled so that its source rectangle fills inView.
        var kx = inView[2] / sw, ky = inView[3] / sh, vs = shown.video.style;
        vs.left = percent(inView[0] - s[0] * kx - clip[0], clip[2]); vs.top = percent(inView[1] - s[1] * ky - clip[1], clip[3]);
        vs.width = percent(pw * kx, clip[2]); vs.height = percent(ph * ky, clip[3]);
    }

    // What a person sees of a stream: the frames its first <video> presents, and when.
    function watchVideo(st, video) {
        if (typeof video.requestVideoFrameCallback !== 'function') return;
        st.watched = video;
        var presented = 0;
        function next(now, meta) {
            if (st.watched !== video || !video.isConnected) { st.watched = null; return; }
            var count = meta.presentedFrames - presented;
            presented = meta.presentedFrames;
            if (count > 0 && st.writtenMs) counted(st, count, nowMs() - st.writtenArrivalMs);
            video.requestVideoFrameCallback(next);
        }
        video.requestVideoFrameCallback(next);
    }

    function counted(st, count, latencyMs) {
        var s = Tiravex.stats.video;
        s.frames += count;
        s.streams[st.number] = (s.streams[st.number] || 0) + count;
        if (s.latencies.length < LATENCIES_KEPT) s.latencies.push(latencyMs);
    }

    function intersect(a, b) {
        var left = Math.max(a[0], b[0]), top = Math.max(a[1], b[1]);
        var right = Math.min(a[0] + a[2], b[0] + b[2]), bottom = Math.min(a[1] + a[3], b[1] + b[3]);
        return right > left && bottom > top ? [left, top, right - left, bottom - top] : null;
    }

    // A decoded picture of stream `st` (a VideoFrame or an ImageBitmap)
    // with where it goes: every view over video that it lies under shows it.
    function showVideo(st, picture, at) {
        var t = at.target, any = false;
        Object.keys(views).forEach(function (id) {
            var v = views[id];
            if (!v.rect || !v.layer) return;
            var inView = [t[0] - v.rect[0], t[1] - v.rect[1], t[2] - t[0], t[3] - t[1]];
            fitLayer(v);
            if (TRACKS) {
                placeVideo(v, st, picture, at, inView);
                any = true;
            } else {
                drawVideo(v, st, picture, at, inView);
            }
        });
        if (!TRACKS) {
            picture.close();
            counted(st, 1, nowMs() - at.arrivedMs);
            return;
        }
        if (!any || (st.writing || 0) >= VIDEO_WRITES_MAX) { picture.close(); return; }
        var frame = picture;
        if (!(picture instanceof VideoFrame)) {
            frame = new VideoFrame(picture, { timestamp: at.serial });
            picture.close();
        }
        st.writing = (st.writing || 0) + 1;
        st.writer.write(frame).then(function () {
            st.writing--;
            st.writtenMs = nowMs();
            st.writtenArrivalMs = at.arrivedMs;
            // Counted here while no <video> of the stream tells what it presents.
            if (!st.watched || !st.watched.isConnected) counted(st, 1, nowMs() - at.arrivedMs);
        }, function () { st.writing--; });
    }

    // Without video tracks: the frame drawn into the layer's canvas.
    function drawVideo(v, st, picture, at, inView) {
        var c = v.canvas;
        if (!v.layer.canvas) {
            var lc = v.layer.canvas = document.createElement('canvas');
            lc.width = c.width;
            lc.height = c.height;
            lc.style.cssText = 'display:block;width:100%;height:100%';
            v.layer.element.appendChild(lc);
        }
        var clip = intersect(inView, [0, 0, c.width, c.height]);
        if (!clip) return;
        var ctx = v.layer.canvas.getContext('2d'), s = at.source;
        ctx.save();
        ctx.beginPath();
        ctx.rect(clip[0], clip[1], clip[2], clip[3]);
        ctx.clip();
        ctx.drawImage(picture, s[0], s[1], s[2] - s[0], s[3] - s[1], inView[0], inView[1], inView[2], inView[3]);
        ctx.restore();
    }

    // The video track of stream `st`, which its views' <video> elements play.
    function openTrack(st) {
        if (!TRACKS || st.track) return;
        st.track = new MediaStreamTrackGenerator({ kind: 'video' });
        st.writer = st.track.writable.getWriter();
        st.media = new MediaStream([st.track]);
    }

    // Streams that stopped (a control released, a camera long silent; the
    // control's drawing covers them by then) give their decoder, track and elements back.
    function forgetVideo() {
        Object.keys(videos).forEach(function (n) {
            var st = videos[n];
            if (st.seenMs && nowMs() - st.seenMs < VIDEO_FORGET_MS) return;
            if (!st.seenMs) { st.seenMs = nowMs(); return; }
            if (st.decoder && st.decoder.state !== 'closed') st.decoder.close();
            if (st.track) { st.writer.close().catch(function () { }); st.track.stop(); }
            Object.keys(views).forEach(function (id) {
                var l = views[id].layer, shown = l && l.streams[n];
                if (shown) { shown.box.remove(); delete l.streams[n]; }
            });
            delete videos[n];
        });
    }

    function videoFailed(st, coding, e) {
        Tiravex.stats.video.failures++;
        st.decoder = null;
        st.waitKey = true;
        if (++st.failures >= VIDEO_FAILURES) {
            console.warn('tiravex: the browser cannot decode ' + coding + ' (' + e + '): pictures come from the control');
            sendInput({ t: 'video', a: 'off', c: coding });
        }
    }

    function takeVideo(number, payload) {
        var h = new DataView(payload.buffer, payload.byteOffset, VIDEO_HEADER);
        var coding = h.getUint8(4), key = h.getUint8(5) === 1;
        var at = { serial: h.getUint32(0, true), source: [], target: [], arrivedMs: h.getFloat64(48, true) };
        for (var i = 0; i < 4; ++i) {
            at.source.push(h.getInt32(16 + 4 * i, true));
            at.target.push(h.getInt32(32 + 4 * i, true));
        }
        var codec = decoder.decode(payload.subarray(56, 56 + VIDEO_CODEC_CHARS)).replace(/\0+$/, '');
        var data = payload.subarray(VIDEO_HEADER);
        var st = videos[number] || (videos[number] = { number: number, decoder: null, codec: '', waitKey: true, failures: 0, chain: Promise.resolve(), pending: {} });
        openTrack(st);
        Tiravex.stats.video.bytes += data.length;
        st.seenMs = nowMs();
        if (coding === CODING.mjpeg) {
            var decoding = createImageBitmap(new Blob([data.slice()], { type: 'image/jpeg' }));
            st.chain = Promise.all([decoding, st.chain]).then(function (done) { showVideo(st, done[0], at); })
                .catch(function (e) { videoFailed(st, 'mjpeg', e); });
            return;
        }
        if (coding !== CODING.h264) return;
        if (!st.decoder || st.codec !== codec || st.decoder.state === 'closed') {
            if (!key) { Tiravex.stats.video.dropped++; return; }
            if (st.decoder && st.decoder.state !== 'closed') st.decoder.close();
            st.codec = codec;
            st.pending = {};
            try {
                st.decoder = new VideoDecoder({
                    output: function (frame) {
                        var meta = st.pending[frame.timestamp];
                        delete st.pending[frame.timestamp];
                        if (meta) showVideo(st, frame, meta); else frame.close();
                    },
                    error: function (e) { videoFailed(st, 'h264', e); }
                });
                st.decoder.configure({ codec: codec, optimizeForLatency: true });
            } catch (e) {
                videoFailed(st, 'h264', e);
                return;
            }
            st.waitKey = false;
        }
        // A decoder that falls behind skips to the next key frame.
        if (!key && (st.waitKey || st.decoder.decodeQueueSize > VIDEO_QUEUE_MAX)) {
            st.waitKey = true;
            Tiravex.stats.video.dropped++;
            return;
        }
        st.waitKey = false;
        st.pending[at.serial] = at;
        try {
            st.decoder.decode(new EncodedVideoChunk({ type: key ? 'key' : 'delta', timestamp: at.serial, data: data }));
        } catch (e) {
            videoFailed(st, 'h264', e);
        }
    }

    // ---- what a control saves (a snapshot) is the browser's download ----
    function download(name, bytes) {
        var url = URL.createObjectURL(new Blob([bytes], { type: /\.jpg$/i.test(name) ? 'image/jpeg' : 'application/octet-stream' }));
        var link = document.createElement('a');
        link.href = url;
        link.download = name;
        link.style.display = 'none';
        document.body.appendChild(link);
        link.click();
        link.remove();
        setTimeout(function () { URL.revokeObjectURL(url); }, DOWNLOAD_URL_MS);
    }

    // ---- the pointer's shape, as the control sets it ----
    var cursor = 'default';

    function showCursor(shape) {
        cursor = shape.css;
        if (shape.argb && shape.width && shape.height) {
            var c = document.createElement('canvas');
            c.width = shape.width;
            c.height = shape.height;
            var ctx = c.getContext('2d');
            var image = ctx.createImageData(shape.width, shape.height);
            for (var i = 0; i < shape.argb.length; ++i) {
                var w = shape.argb[i];
                image.data[i * 4] = (w >>> 16) & 255;
                image.data[i * 4 + 1] = (w >>> 8) & 255;
                image.data[i * 4 + 2] = w & 255;
                image.data[i * 4 + 3] = (w >>> 24) & 255;
            }
            ctx.putImageData(image, 0, 0);
            cursor = 'url(' + c.toDataURL('image/png') + ') ' + shape.hot[0] + ' ' + shape.hot[1] + ', ' + shape.css;
        }
        Object.keys(views).forEach(function (id) { views[id].canvas.style.cursor = cursor; });
    }

    // ---- windows of the control on the page ----
    function applyLayout(layout) {
        var seen = {}, opened = null;
        layout.views.forEach(function (v) {
            seen[v.id] = true;
            if (v.kind === 'control') {
                if (views[v.id]) views[v.id].rect = v.rect;
                return;
            }
            var f = floating[v.id];
            if (!f) {
                var box = document.createElement('div');
                box.className = 'tiravex-window';
                var canvas = document.createElement('canvas');
                canvas.style.cssText = 'display:block;width:100%;height:100%;object-fit:contain;outline:none;touch-action:none';
                box.appendChild(canvas);
                document.body.appendChild(box);
                f = floating[v.id] = { box: box, canvas: canvas, full: false };
                views[v.id] = { canvas: canvas, rect: v.rect, chain: Promise.resolve() };
                canvas.style.cursor = cursor;
                takeInput(canvas, v.id);
                opened = f; // a new window takes the keyboard
            }
            views[v.id].rect = v.rect;
            var z = v.kind === 'menu' ? 2147483000 : 2147480000 + (v.z || 0);
            var place = v.kind === 'menu' ? onPage(v.rect).concat([v.rect[2], v.rect[3]]) : inView(v.rect);
            f.box.style.cssText = 'position:absolute;left:' + place[0] + 'px;top:' + place[1] + 'px;width:' + place[2] + 'px;height:' +
                place[3] + 'px;z-index:' + z + ';background:#000;box-shadow:0 2px 8px rgba(0,0,0,.5)';
            if (v.full && !f.full) goFullScreen(v.id, f);
            else if (!v.full && f.full) leaveFullScreen(f);
            if (f.full) f.box.style.cssText += ';position:fixed;left:0;top:0;width:100vw;height:100vh';
        });
        if (opened) opened.canvas.focus();
        Object.keys(floating).forEach(function (id) {
            if (seen[id]) return;
            var f = floating[id];
            if (f.full) leaveFullScreen(f);
            f.box.remove();
            delete floating[id];
            delete views[id];
        });
    }

    // Where a screen rectangle lies on the page: beside the control nearest to it.
    function onPage(rect) {
        var best = null, bestDistance = Infinity;
        Object.keys(controls).forEach(function (handle) {
            var r = views[handle] && views[handle].rect;
            if (!r) return;
            var dx = Math.max(r[0] - rect[0], 0, rect[0] - (r[0] + r[2])), dy = Math.max(r[1] - rect[1], 0, rect[1] - (r[1] + r[3]));
            if (dx + dy < bestDistance) { bestDistance = dx + dy; best = handle; }
        });
        if (best === null) return [rect[0], rect[1]];
        var box = controls[best].canvas.getBoundingClientRect(), r = views[best].rect;
        return [Math.round(rect[0] - r[0] + box.left + window.scrollX), Math.round(rect[1] - r[1] + box.top + window.scrollY)];
    }

    // Where a window of the control lies on the page: beside the control
    // nearest to it, inside the page's view, shown smaller (at its own
    // ratio) when it is larger than most of the view.
    function inView(rect) {
        var at = onPage(rect);
        var viewWidth = document.documentElement.clientWidth || window.innerWidth, viewHeight = window.innerHeight;
        var scale = Math.min(1, viewWidth * WINDOW_SHARE / rect[2], viewHeight * WINDOW_SHARE / rect[3]);
        var width = Math.round(rect[2] * scale), height = Math.round(rect[3] * scale);
        var left = Math.max(window.scrollX, Math.min(at[0], window.scrollX + viewWidth - width));
        var top = Math.max(window.scrollY, Math.min(at[1], window.scrollY + viewHeight - height));
        return [Math.round(left), Math.round(top), width, height];
    }

    function goFullScreen(id, f) {
        f.full = true;
        f.canvas.focus();
        if (f.box.requestFullscreen) f.box.requestFullscreen().catch(function () { /* shown over the page instead */ });
        f.onchange = function () {
            // Leaving the browser's full screen (Escape) leaves the control's.
            if (document.fullscreenElement !== f.box && f.full && floating[id] === f) followBrowser(id, f, 0);
        };
        setTimeout(function () { document.addEventListener('fullscreenchange', f.onchange); }, 0);
    }

    // The browser has left its full screen: the control leaves its own too.
    // Escape in screen pan/tilt mode only ends that mode, so Escape is
    // pressed again while the control's window still covers the screen.
    function followBrowser(id, f, pressed) {
        if (!f.full || floating[id] !== f || document.fullscreenElement === f.box) return;
        if (pressed >= LEAVE_ESCAPES) {
            console.warn('tiravex: the control stays in full screen');
            return;
        }
        sendInput({ t: 'key', down: true, vk: VK_ESCAPE });
        sendInput({ t: 'key', down: false, vk: VK_ESCAPE });
        setTimeout(function () { followBrowser(id, f, pressed + 1); }, LEAVE_CHECK_MS);
    }

    function leaveFullScreen(f) {
        f.full = false;
        if (f.onchange) document.removeEventListener('fullscreenchange', f.onchange);
        if (document.fullscreenElement === f.box) document.exitFullscreen().catch(function () { });
    }

    // ---- input: mouse, wheel, keys on the pictures ----
    var inputQueue = [], inputBusy = false;

    function sendInput(e) {
        if (!base || ended) return;
        var last = inputQueue[inputQueue.length - 1];
        if (e.a === 'move' && last && last.a === 'move') inputQueue[inputQueue.length - 1] = e;
        else inputQueue.push(e);
        flushInput();
    }

    function flushInput() {
        if (inputBusy || !inputQueue.length) return;
        var batch = inputQueue;
        inputQueue = [];
        inputBusy = true;
        fetch(base + '/input', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ events: batch }), keepalive: true })
            .catch(function () { }).then(function () { inputBusy = false; flushInput(); });
    }

    function takeInput(canvas, id) {
        canvas.tabIndex = 0;
        function modifiers(e) { return (e.shiftKey ? MOD_SHIFT : 0) | (e.ctrlKey ? MOD_CONTROL : 0); }
        // The screen point under the pointer, through any scaling of the picture.
        function point(e) {
            var r = canvas.getBoundingClientRect();
            var scale = Math.min(r.width / canvas.width, r.height / canvas.height) || 1;
            var left = r.left + (r.width - canvas.width * scale) / 2, top = r.top + (r.height - canvas.height * scale) / 2;
            var rect = views[id] ? views[id].rect : [0, 0];
            return [rect[0] + Math.floor((e.clientX - left) / scale), rect[1] + Math.floor((e.clientY - top) / scale)];
        }
        function mouse(action, e, extra) {
            var p = point(e);
            var event = { t: 'mouse', a: action, x: p[0], y: p[1], m: modifiers(e) };
            if (extra) event.w = extra;
            // When the person acted: double clicks are judged by it, however the batches travel.
            if (typeof e.timeStamp === 'number') event.ms = Math.round(e.timeStamp);
            sendInput(event);
        }
        var buttons = ['left', 'middle', 'right'];
        // A finger: a tap is a click, a long press still the right button
        // (the menu), and a finger that moves first drags.
        var touch = null;
        function touchDown(e) {
            canvas.focus();
            canvas.setPointerCapture(e.pointerId);
            touch = { id: e.pointerId, x: e.clientX, y: e.clientY, pressed: false, at: e };
            touch.timer = setTimeout(function () {
                if (!touch) return;
                mouse('rightdown', touch.at);
                mouse('rightup', touch.at);
                touch = null;
            }, LONG_PRESS_MS);
            e.preventDefault();
        }
        function touchMove(e) {
            if (!touch || touch.id !== e.pointerId) return;
            if (!touch.pressed && Math.abs(e.clientX - touch.x) + Math.abs(e.clientY - touch.y) > TOUCH_SLOP) {
                clearTimeout(touch.timer);
                touch.pressed = true;
                mouse('leftdown', touch.at);
            }
            if (touch.pressed) mouse('move', e);
        }
        function touchUp(e) {
            if (!touch || touch.id !== e.pointerId) return;
            clearTimeout(touch.timer);
            if (!touch.pressed) mouse('leftdown', touch.at);
            mouse('leftup', e);
            touch = null;
            e.preventDefault();
        }
        // Two fingers pinch: moving apart zooms in, together zooms out, a
        // wheel step for every PINCH_STEP pixels, around the point between them.
        var fingers = {}, pinch = null;
        function fingerCount() { return Object.keys(fingers).length; }
        function pinchDistance() {
            var f = Object.keys(fingers).map(function (k) { return fingers[k]; });
            return Math.sqrt(Math.pow(f[0].clientX - f[1].clientX, 2) + Math.pow(f[0].clientY - f[1].clientY, 2));
        }
        function pinchMove() {
            var f = Object.keys(fingers).map(function (k) { return fingers[k]; });
            var middle = { clientX: (f[0].clientX + f[1].clientX) / 2, clientY: (f[0].clientY + f[1].clientY) / 2, shiftKey: false, ctrlKey: false };
            var d = pinchDistance();
            while (d - pinch.distance >= PINCH_STEP) { mouse('wheel', middle, 1); pinch.distance += PINCH_STEP; }
            while (pinch.distance - d >= PINCH_STEP) { mouse('wheel', middle, -1); pinch.distance -= PINCH_STEP; }
        }
        function fingerGone(e) {
            delete fingers[e.pointerId];
            if (pinch) {
                if (fingerCount() < 2) pinch = null;
                return true;
            }
            return false;
        }
        canvas.addEventListener('pointerdown', function (e) {
            if (e.pointerType === 'touch') {
                fingers[e.pointerId] = { clientX: e.clientX, clientY: e.clientY };
                if (fingerCount() === 1) {
                    touchDown(e);
                } else if (fingerCount() === 2) {
                    // A second finger: no click, no menu, no drag, but a pinch.
                    if (touch) { clearTimeout(touch.timer); if (touch.pressed) mouse('leftup', touch.at); touch = null; }
                    canvas.setPointerCapture(e.pointerId);
                    pinch = { distance: pinchDistance() };
                }
                e.preventDefault();
                return;
            }
            if (!buttons[e.button]) return;
            canvas.focus();
            canvas.setPointerCapture(e.pointerId);
            mouse(buttons[e.button] + 'down', e);
            e.preventDefault();
        });
        canvas.addEventListener('pointerup', function (e) {
            if (e.pointerType === 'touch') { if (!fingerGone(e)) touchUp(e); return; }
            if (!buttons[e.button]) return;
            mouse(buttons[e.button] + 'up', e);
            e.preventDefault();
        });
        canvas.addEventListener('pointermove', function (e) {
            if (e.pointerType !== 'touch') { mouse('move', e); return; }
            if (fingers[e.pointerId]) fingers[e.pointerId] = { clientX: e.clientX, clientY: e.clientY };
            if (pinch && fingerCount() === 2) pinchMove();
            else if (!pinch) touchMove(e);
        });
        canvas.addEventListener('pointercancel', function (e) {
            if (fingerGone(e)) return;
            if (touch && touch.id === e.pointerId) { clearTimeout(touch.timer); if (touch.pressed) mouse('leftup', e); touch = null; }
        });
        canvas.addEventListener('wheel', function (e) {
            if (e.deltaY) mouse('wheel', e, e.deltaY < 0 ? 1 : -1);
            e.preventDefault();
        }, { passive: false });
        canvas.addEventListener('contextmenu', function (e) { e.preventDefault(); });
        canvas.addEventListener('dblclick', function (e) { e.preventDefault(); });
        function key(down) {
            return function (e) {
                if (!e.keyCode || e.keyCode > 255) return;
                sendInput({ t: 'key', down: down, vk: e.keyCode });
                if (e.keyCode !== VK_ESCAPE) e.preventDefault();
            };
        }
        canvas.addEventListener('keydown', key(true));
        canvas.addEventListener('keyup', key(false));
    }

    // ---- sound: the camera's, through Web Audio ----
    var sound = { context: null, gain: null, next: {} };

    function playSound(device, payload) {
        var samples = new Int16Array(payload.slice().buffer);
        Tiravex.stats.sound += samples.length;
        if (typeof Tiravex.onsound === 'function') {
            try { Tiravex.onsound(device, samples); } catch (e) { setTimeout(function () { throw e; }, 0); }
        }
        if (!sound.context) {
            try { sound.context = new AudioContext({ sampleRate: SAMPLE_RATE }); } catch (e) { sound.context = new AudioContext(); }
            sound.gain = sound.context.createGain();
            sound.gain.gain.value = Tiravex.volume;
            sound.gain.connect(sound.context.destination);
        }
        var ctx = sound.context;
        var buffer = ctx.createBuffer(1, samples.length, SAMPLE_RATE);
        var data = buffer.getChannelData(0);
        for (var i = 0; i < samples.length; ++i) data[i] = samples[i] / 32768;
        var source = ctx.createBufferSource();
        source.buffer = buffer;
        source.connect(sound.gain);
        var at = sound.next[device] || 0;
        if (at < ctx.currentTime + 0.01 || at > ctx.currentTime + SOUND_MAX_LEAD) at = ctx.currentTime + SOUND_LEAD;
        source.start(at);
        sound.next[device] = at + samples.length / SAMPLE_RATE;
    }
    ['pointerdown', 'keydown'].forEach(function (name) {
        document.addEventListener(name, function () { if (sound.context && sound.context.state === 'suspended') sound.context.resume(); }, true);
    });

    // ---- talk: the microphone while the control captures ----
    var talk = { stream: null, context: null, queue: [], busy: false };

    function microphone(on) {
        Tiravex.microphone = on;
        if (on && !talk.stream && !talk.starting) {
            talk.starting = true;
            navigator.mediaDevices.getUserMedia({ audio: true }).then(function (stream) {
                talk.starting = false;
                if (!Tiravex.microphone) { stream.getTracks().forEach(function (t) { t.stop(); }); return; }
                talk.stream = stream;
                var ctx = talk.context = new AudioContext();
                return ctx.audioWorklet.addModule('/tiravex-talk.js').then(function () {
                    var node = new AudioWorkletNode(ctx, 'tiravex-talk', { processorOptions: { batchMs: TALK_BATCH_MS } });
                    node.port.onmessage = function (e) { measureMicrophone(e.data); sendTalk(e.data); };
                    var silent = ctx.createGain();
                    silent.gain.value = 0;
                    ctx.createMediaStreamSource(stream).connect(node);
                    node.connect(silent);
                    silent.connect(ctx.destination);
                });
            }).catch(function (e) {
                talk.starting = false;
                console.warn('tiravex: no microphone: ' + e);
            });
        } else if (!on && talk.stream) {
            Tiravex.microphoneLevel = 0;
            talk.stream.getTracks().forEach(function (t) { t.stop(); });
            talk.context.close();
            talk.stream = talk.context = null;
        }
    }

    // The microphone's level while talking, 0..1: the root mean square of
    // the last batch, against full scale.
    function measureMicrophone(pcm) {
        var samples = new Int16Array(pcm), sum = 0;
        for (var i = 0; i < samples.length; ++i) sum += samples[i] * samples[i];
        Tiravex.microphoneLevel = samples.length ? Math.sqrt(sum / samples.length) / 32768 : 0;
    }

    function sendTalk(pcm) {
        if (pcm) talk.queue.push(pcm);
        if (talk.busy || !talk.queue.length || !base || ended) return;
        var total = talk.queue.reduce(function (n, b) { return n + b.byteLength; }, 0);
        var body = new Uint8Array(total), at = 0;
        talk.queue.forEach(function (b) { body.set(new Uint8Array(b), at); at += b.byteLength; });
        talk.queue = [];
        talk.busy = true;
        fetch(base + '/talk', { method: 'POST', headers: { 'Content-Type': 'application/octet-stream' }, body: body })
            .catch(function () { }).then(function () { talk.busy = false; sendTalk(null); });
    }
})();
