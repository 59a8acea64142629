#pragma once
// Failed X requests, for a window on an X server.

namespace present {

// From now on an X request that fails (one about a window the server no
// longer has, after a race with another client) is reported on stderr and
// the program goes on: Xlib's default handler would end the whole page's
// process. Called before SDL starts its video, whose own handler passes
// errors on to this one.
void ReportXErrors();

}
