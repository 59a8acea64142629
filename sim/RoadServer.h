#pragma once
// The simulated camera's control roads: checks a road's login, sends the
// login reply and the messages that follow it, answers the road's commands,
// sends a heartbeat after each second of silence, and carries scripted
// control messages to every logged-in road.
//
// Ownership: one per camera, owned by the Camera; refers to the camera's
// state and CGI, which outlive it. Threads: Serve runs on the road
// connection's own worker thread, one call per road; SendToAll from any
// thread.

#include "sim/CameraState.h"
#include "sim/CgiServer.h"
#include "sim/Connection.h"

#include "kznet/Wire.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

class RoadServer {
public:
    RoadServer(Camera::State& state, CgiServer& cgi) : m_state(state), m_cgi(cgi) { }

    // Serves a connection whose first message was `login` until it ends or
    // the camera stops.
    void Serve(const std::shared_ptr<Connection>& connection, const kz::wire::LoginRequest& login);
    // Sends control message `type` with `data` to every logged-in road.
    void SendToAll(int type, const std::vector<std::uint8_t>& data);

private:
    std::vector<std::uint8_t> LoginReply(std::int32_t status, const std::string& user) const;
    void LoggedIn(Connection& connection);
    void HandleCommand(const std::shared_ptr<Connection>& connection, const kz::wire::CommandRequest& command);
    void AnswerCgi(const std::shared_ptr<Connection>& connection, const std::string& text);

    Camera::State& m_state;
    CgiServer& m_cgi;
};

}
