#pragma once
// The control's own dispatch ids of its script members (1 to 44 in the
// order of the members, AboutBox the stock -552). Pages bind by name; these
// numbers are what GetIDsOfNames answers.

#include "com/Automation.h"

namespace control {

enum DispatchId : DISPID {
    kDispLogin = 1,
    kDispOpen = 2,
    kDispClose = 3,
    kDispRecord = 4,
    kDispOpenAudio = 5,
    kDispOpenTalk = 6,
    kDispCloseTalk = 7,
    kDispCloseAudio = 8,
    kDispLeaveAreaSet = 9,
    kDispDelRect = 10,
    kDispLeaveMotionSet = 11,
    kDispLive = 12,
    kDispEnterConfigPage = 13,
    kDispPlayback = 14,
    kDispEnterAreaSet = 15,
    kDispEnterMotionSet = 16,
    kDispPlaybackOpen = 17,
    kDispGetLiveCfg = 18,
    kDisptest = 19,
    kDispFullScreen = 20,
    kDispPlaybackClose = 21,
    kDispPlaybackSeek = 22,
    kDispPlaybackPause = 23,
    kDispPlaybackResume = 24,
    kDispAreas = 25,
    kDispMotionAreas = 26,
    kDispGetDevIPandPort = 27,
    kDispSetLauguage = 28,
    kDispLoginSuc = 29,
    kDispSearchDev = 30,
    kDispRegMy = 31,
    kDispUNRegMy = 32,
    kDispKillFocus = 33,
    kDispRecordPath = 34,
    kDispManualRecordPath = 35,
    kDispLocalAlarmRecordTime = 36,
    kDispSDManage = 37,
    kDispUpdateFirstChannelUserRight = 38,
    kDispSetCheckedOut = 39,
    kDispGetCGIResult = 40,
    kDispSendCgiToPlugin = 41,
    kDispSetHttpsFlg = 42,
    kDispGetUpdataFilePath = 43,
    kDispOpenLocalRecordFolder = 44,
    kDispAboutBox = DISPID_ABOUTBOX,
};

}
