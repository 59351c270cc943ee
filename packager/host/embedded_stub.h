// The installer without payload that drelix-pack carries inside itself; the build generates its
// definition from the freshly built stub.
#pragma once

#include <cstdint>
#include <span>

std::span<const std::uint8_t> EmbeddedStub();
