#pragma once
// The HTTP statuses the simulated camera's ONVIF services answer with.

namespace sim {

constexpr int kHttpOk = 200;
constexpr int kHttpBadRequest = 400;
constexpr int kHttpUnauthorized = 401;
constexpr int kHttpServerError = 500;

}
