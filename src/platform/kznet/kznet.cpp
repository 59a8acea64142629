// The network library until its transport is built: every call is accepted
// and no handle is ever returned, so the control sees no road, no stream,
// no search and no HTTP client, and skips its work as it does whenever a
// camera cannot be reached.

#include "kznet/kznet.h"

extern "C" {

KzHandle kz_open_ctrl_road(int, LoginInfo*, KzCtrlCallback, void*, unsigned char) { return nullptr; }
int kz_post_ctrl_road_msg(KzHandle, int, std::intptr_t, std::intptr_t) { return -1; }
int kz_close_ctrl_road(KzHandle) { return 0; }

KzHandle kz_open_device(int, const char*, LoginInfo*, int, int, int, KzStatusCallback, KzFrameCallback, void*, unsigned char) { return nullptr; }
int kz_close_device(KzHandle) { return 0; }
int kz_pause_media(KzHandle) { return -1; }
int kz_resume_media(KzHandle) { return -1; }
int kz_start_media(KzHandle, int) { return -1; }
int kz_stop_media(KzHandle, int) { return -1; }
int kz_seek_record(KzHandle, double) { return -1; }
int kz_post_media_msg(KzHandle, int, int, int) { return -1; }
int kz_send_talk_data(KzHandle, int, int, int, int, const char*) { return -1; }

KzHandle kz_search_devices(KzSearchCallback, void*, int, int) { return nullptr; }
int kz_close_search(KzHandle) { return 0; }

KzHandle kz_create_HttpParser() { return nullptr; }
int kz_mallocSendData(KzHandle, int) { return -1; }
int kz_set_httpRequest(KzHandle, const char*, const char*, const char*, int, int) { return -1; }
int kz_create_HttpSocket(KzHandle) { return -1; }
int kz_httpIsConnected(KzHandle) { return 0; }
int kz_httpConnect(KzHandle, const char*, int) { return kz::kHttpConnectFailed; }
int kz_httpRequest(KzHandle) { return kz::kHttpSocketClosed; }
int kz_httpResponse(KzHandle, int) { return -1; }
const char* kz_GetContentData(KzHandle) { return nullptr; }
int kz_closeHttpSocket(KzHandle) { return 0; }
int kz_freeSendData(KzHandle) { return 0; }
int kz_close_HttpParser(KzHandle) { return 0; }

}
