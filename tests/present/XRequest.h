#pragma once

// Sends an event to a window no X client has, on a connection of its own,
// and waits for the server's answer (an error); false without a display.
bool SendToAMissingWindow();
