#pragma once
// The page worker: the process that runs the controls of one browser page
// for tiravex-serve, as the page host runs those of a page script. Its main
// thread is the page's thread. The page's <object> elements become controls
// in a page window on a screen of the page's own; their members are called
// by name through IDispatch with the same conversions as the page host's;
// the page callbacks they make are relayed, numbered in order, to the page;
// a StreamPresenter streams the pixels of every control, of every top-level
// window (snapshot windows, the About box, a full-screen video window) and
// of an open menu; the page's mouse and keys are injected as the SDL window
// injects a person's; the sound of the play devices goes to the page and
// the page's microphone into the capture devices (the audio library's relay
// back end).
//
// Requests (JSON, from tiravex-serve, each answered with a reply):
//   {"op":"start", "screen":[w,h], "callbacks":[names]}        first, once
//   {"op":"create", "control":h, "params":{..}, "rect":[x,y,w,h]}
//       -> {"control":h, "members":[[name, 1 method | 2 property]...]}
//   {"op":"call"|"get"|"set", "control":h, "name":n, "args":[..], "have":seq}
//       -> {"value":v (absent: undefined), "events":[[seq, name, [args]]...], "hr":n}
//   {"op":"resize", "control":h, "size":[w,h]}, {"op":"destroy", "control":h}
// A call that waits for a person (a modal dialog or menu) is answered as
// soon as its modal loop runs, without a value.

namespace host {

// Runs the worker on the link at `linkFd` until the link ends or tiravex-serve
// closes the session; returns the process's exit code.
int RunPageWorker(int linkFd);

}
