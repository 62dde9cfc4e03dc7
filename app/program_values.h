#pragma once
// Values fixed for the life of the process.

#include "zelkor_version.h" // kVersion

namespace zelkor::app {

inline constexpr const char* kSoftwareId = "vurariduvu";
inline constexpr const char* kTitle = "Zelkor长尾词采集工具"; // UTF-8
inline constexpr const char* kCaptionPrefix = "Zelkor长尾词采集工具v";

} // namespace zelkor::app
