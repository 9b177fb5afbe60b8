#pragma once

#include <cstdint>

namespace tonvale {

// Result codes of the platform layer: negative means failure, zero and positive count
// as success. The engine's algorithms are written against this convention.
using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
// The graph could not connect a pin through to the filters it holds.
inline constexpr HRESULT VFW_E_CANNOT_RENDER = static_cast<HRESULT>(0x80040218u);
// A device that the graph or a filter needs has gone away.
inline constexpr HRESULT VFW_E_NO_CAPTURE_HARDWARE = static_cast<HRESULT>(0x80040270u);
// No sound server answered.
inline constexpr HRESULT RPC_E_SERVER_UNAVAILABLE = static_cast<HRESULT>(0x800706BAu);

constexpr bool Failed(HRESULT hr) {
  return hr < 0;
}
constexpr bool Succeeded(HRESULT hr) {
  return hr >= 0;
}

}  // namespace tonvale
