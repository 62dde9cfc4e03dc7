#pragma once
// The controls the engine reads and writes, by their real names, and their form defaults.

#include "engine/core/controls.h"

#include <array>
#include <filesystem>
#include <string_view>

namespace zelkor::ctl {

inline constexpr std::string_view kSeeds = "编辑框_关键词";
inline constexpr std::string_view kForbidden = "编辑框_违禁词";
inline constexpr std::string_view kLimit = "编辑框_挖掘数量";
inline constexpr std::string_view kDelay = "编辑框_延时";
inline constexpr std::string_view kSaveDir = "编辑框_默认保存目录";
inline constexpr std::string_view kHangupDir = "编辑框_挂机keyword";
inline constexpr std::string_view kPanel = "输出_面板";
inline constexpr std::string_view kCountLabel = "标签_显示";
inline constexpr std::string_view kNoticeLabel = "标签_tishi";
inline constexpr std::string_view kStartButton = "按钮_开始";
inline constexpr std::string_view kMainWordOnly = "选择框_包含原词";
inline constexpr std::string_view kAutoSave = "选择框_自动保存结果";
inline constexpr std::string_view kNoOutput = "选择框_数据不输出";
inline constexpr std::string_view kHangup = "选择框_挂机模式";
inline constexpr std::string_view kSourceList = "选择列表框1";

// Boxes of the page 高级.
inline constexpr std::string_view kRetries = "编辑框_重试次数";
inline constexpr std::string_view kCooldown = "编辑框_冷却秒数";
inline constexpr std::string_view kProxyList = "编辑框_代理列表";
// Beyond the original, all off when empty. Seed variants: a comma list of az, digits, questions and
// frames, in the order asked, and the user's frames, one a line ("{}" where the seed goes).
inline constexpr std::string_view kVariants = "编辑框_种子变体";
inline constexpr std::string_view kVariantFrames = "编辑框_变体模板";
// Result filters: patterns a phrase must match and must not match, and bounds on its characters.
inline constexpr std::string_view kIncludePattern = "编辑框_包含规则";
inline constexpr std::string_view kExcludePattern = "编辑框_排除规则";
inline constexpr std::string_view kMinChars = "编辑框_最少字数";
inline constexpr std::string_view kMaxChars = "编辑框_最多字数";
// Bounds on every answer: its size in MiB and the whole exchange's seconds; empty: 8 MiB and 60 s.
inline constexpr std::string_view kMaxAnswerMib = "编辑框_应答上限";
inline constexpr std::string_view kDeadline = "编辑框_总时限";
// The run store: the command line's files, sqlite or sqlite:PATH. Empty: files.
inline constexpr std::string_view kRunStore = "编辑框_运行存储";
// Seconds a shared (Redis) store's worker rides out a lost server; empty: 60.
inline constexpr std::string_view kStoreTimeout = "编辑框_存储断线等待";
// The format of the export action (标签5): empty or "txt" for the original results file, else csv,
// jsonl or xlsx beside it, with the results' metadata.
inline constexpr std::string_view kExportFormat = "编辑框_导出格式";
// Throughput mode: many keywords in flight, each service asked at most this many times a second.
inline constexpr std::string_view kParallel = "选择框_并发查询";
inline constexpr std::string_view kParallelRate = "编辑框_并发速率";
// Check the services' certificates; off, as the original, unless asked.
inline constexpr std::string_view kVerifyTls = "选择框_验证证书";
// The export action (标签5) also writes the run's HTML report beside the results file.
inline constexpr std::string_view kExportReport = "选择框_导出报告";
// Once every proxy of 编辑框_代理列表 is dropped, go on directly instead of stopping the run.
inline constexpr std::string_view kProxyFallback = "选择框_代理失效直连";
// Keyword intelligence, all off unless asked: a bound on the walk's depth (empty: none); the result
// filters hiding phrases but walking through them; normal forms of phrases before the seen check;
// hits of each result counted; root words and intent tags of the results in the rich exports.
inline constexpr std::string_view kMaxDepth = "编辑框_最大深度";
inline constexpr std::string_view kFilterShow = "选择框_过滤后继续挖掘";
inline constexpr std::string_view kNormalize = "选择框_规范化词形";
inline constexpr std::string_view kCountHits = "选择框_统计出现次数";
inline constexpr std::string_view kKeywordWords = "选择框_词根与意图";

// The edit boxes the settings file keeps, in the window's order.
inline constexpr std::string_view kEditBoxes[] = {kSeeds,   kForbidden, kLimit, kDelay,
                                                  kSaveDir, kHangupDir, kPanel};

// The boxes of the page 高级, kept in the same section after those above. A box left empty is not
// written, so a settings file stays as it was until one of them is used.
inline constexpr std::array<std::string_view, 16> kAdvancedBoxes{
    kRetries,        kCooldown, kProxyList, kVariants,     kVariantFrames, kIncludePattern, kExcludePattern,
    kMinChars,       kMaxChars, kMaxAnswerMib, kDeadline,  kExportFormat,  kParallelRate,   kRunStore,
    kMaxDepth,       kStoreTimeout};
// The check boxes of the page 高级, kept there too as "1" or "0"; never written until checked once.
inline constexpr std::array<std::string_view, 8> kAdvancedChecks{kParallel,  kVerifyTls, kExportReport, kProxyFallback,
                                                                 kFilterShow, kNormalize, kCountHits,   kKeywordWords};

inline constexpr int kPanelLimit = 20000; // bytes; a longer panel is emptied

// Form defaults, UTF-8. Check boxes: 包含原词 and 自动保存结果 checked, the others not.
inline constexpr std::string_view kDefaultSeeds = "抖音\r\n快手";
inline constexpr std::string_view kDefaultForbidden =
    "成人\r\n色情\r\n棋牌\r\nQQ\r\n微信\r\nV信\r\nVX\r\nqq\r\nQq\r\nqQ\r\nvx";
inline constexpr std::string_view kDefaultLimit = "30";
inline constexpr std::string_view kDefaultDelay = "1";
inline constexpr std::string_view kDefaultCountCaption = "采集结果预览";
inline constexpr std::string_view kCaptionStart = "开始";
inline constexpr std::string_view kCaptionStop = "停止";

} // namespace zelkor::ctl

namespace zelkor {

// Puts every control the engine uses into its state at window creation, before the settings are
// restored: form defaults and the save directory = home + "/". Ticking item 0 of 选择列表框1 is
// the face's (Controls has no item write).
void applyWindowDefaults(Controls& controls, const std::filesystem::path& home);

} // namespace zelkor
