#pragma once
// Values fixed for the life of the process.

namespace zelkor::app {

inline constexpr const char* kVersion = "3.4";
inline constexpr const char* kSoftwareId = "vurariduvu";
inline constexpr const char* kTitle = "Zelkor长尾词采集工具"; // UTF-8
inline constexpr const char* kCaptionPrefix = "Zelkor长尾词采集工具v";

} // namespace zelkor::app
