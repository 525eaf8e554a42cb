#pragma once

#include "service/api.h"

#include <functional>

// Makes the Api a service call goes through. Nothing keeps an Api: a flow
// asks for a fresh one right before its calls, so that it sees the token
// and the address as they are now.
using ApiFactory = std::function<Api()>;
