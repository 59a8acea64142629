#pragma once
// Device search: every camera that answers, or the one whose device id the
// control last logged in to. The network library searches; each accepted
// answer is copied (its port put in host order) and posted to the link's
// mailbox window, where it becomes a SearchAnswer or DeviceFound event.
//
// Threads: Start and Stop on the page's thread; the callbacks on the
// library's search thread, touching only the answer and what Start gave them.

#include "link/LinkEvents.h"

#include "kznet/kznet.h"
#include "ui/Window.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace devlink {

// Mailbox messages of the search: the heap copy of an answer in wParam.
constexpr UINT kMsgDeviceFound = 1232; // the one-device search found its camera
constexpr UINT kMsgSearchAnswer = 1236; // a camera answered the search

// The longest name a search answer reaches the page with, in bytes.
constexpr std::size_t kMaxSearchNameBytes = 20;

class DeviceSearch {
public:
    DeviceSearch();
    ~DeviceSearch();
    DeviceSearch(const DeviceSearch&) = delete;
    DeviceSearch& operator=(const DeviceSearch&) = delete;

    // Stops a running search, then searches every camera (`parameter` as the
    // library takes it); answers are posted to `mailbox`.
    void StartAll(HWND mailbox, int parameter);
    // Stops a running search, then searches for the camera with `deviceId`
    // (the first 13 bytes count); the first match ends the search.
    void StartOne(HWND mailbox, int parameter, const char* deviceId);
    void Stop();

    // The heap copy of an answer that the search callbacks post to the
    // mailbox (its port put in host order), or 0 for an answer the control
    // does not take. Any thread.
    static WPARAM CopyAnswer(int type, const char* record, int length);
    // The events of an answer posted to the mailbox (taking the copy).
    static SearchAnswer AnswerOf(WPARAM copy);
    static DeviceFound FoundOf(WPARAM copy);

private:
    struct Context;
    static int ListCallback(int type, const char* record, int length, void* user);
    static int FindCallback(int type, const char* record, int length, void* user);

    KzHandle m_handle = nullptr;
    std::unique_ptr<Context> m_context; // lives until the search is closed
};

}
