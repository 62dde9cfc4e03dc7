#include "app/box_checks.h"

#include "app/qt_text.h"
#include "engine/run/answer_limits.h"
#include "engine/core/control_names.h"
#include "engine/store/run_history.h"
#include "engine/run/parallel_run.h"
#include "engine/run/source_health.h"
#include "engine/core/text_rules.h"
#include "net/proxy.h"
#include "text/regex.h"

#include <QStringList>
#include <climits>

namespace zelkor::app {

namespace {

struct Named {
    std::string_view control;
    const char* name;
};
const Named kNames[] = {
    {ctl::kRetries, "重试次数"},        {ctl::kCooldown, "冷却时间"},
    {ctl::kProxyList, "代理列表"},      {ctl::kMaxAnswerMib, "应答上限"},
    {ctl::kDeadline, "单个请求总时限"}, {ctl::kIncludePattern, "包含规则"},
    {ctl::kExcludePattern, "排除规则"}, {ctl::kMinChars, "最少字数"},
    {ctl::kMaxChars, "最多字数"},       {ctl::kParallelRate, "每个来源每秒请求"},
    {ctl::kRunStore, "运行存储"},       {ctl::kExportFormat, "导出格式"},
    {ctl::kVariantFrames, "变体模板"},  {ctl::kMaxDepth, "最大深度"},
    {ctl::kStoreTimeout, "Redis 断线等待"},
};

// The library's messages for the mistakes people make, most common first.
struct Said {
    const char* english;
    const char* chinese;
};
const Said kPatternProblems[] = {
    {"missing closing parenthesis", "缺少右括号“)”"},
    {"unmatched closing parenthesis", "多了一个右括号“)”"},
    {"missing terminating ] for character class", "方括号“[”没有对应的“]”"},
    {"quantifier does not follow a repeatable item", "*、+、? 或 {n} 前面没有可重复的内容"},
    {"\\ at end of pattern", "规则以单个反斜杠“\\”结尾"},
    {"range out of order in character class", "方括号里的范围前后颠倒（如 z-a）"},
    {"number too big in {} quantifier", "{} 里的数字太大"},
    {"numbers out of order in {} quantifier", "{} 里的数字前大后小"},
    {"lookbehind assertion is not fixed length", "向后查找（?<=、?<!）的内容长度必须固定"},
    {"reference to non-existent subpattern", "引用了不存在的分组"},
    {"unrecognized character follows \\", "反斜杠后面是无法识别的字符"},
    {"unrecognized character after (? or (?-", "“(?”后面是无法识别的字符"},
    {"missing ) after (?# comment", "注释“(?#”缺少右括号"},
    {"escape sequence is invalid in character class", "方括号里有无效的转义"},
    {"POSIX named classes are supported only within a class", "[:名称:] 只能写在方括号里"},
    {"unknown POSIX class name", "未知的 [:名称:] 字符类"},
    {"it uses a construct this dialect does not have", "用了本规则语法没有的写法"},
    {"it does not compile", "无法编译"},
};

QString range(int low, int high, const char* unit) {
    return QStringLiteral("应为 %1 到 %2 的整数%3").arg(low).arg(high).arg(qs(unit));
}

std::string utf8(const QString& text) {
    return text.toStdString();
}

} // namespace

QString advancedBoxName(std::string_view control) {
    for (const Named& n : kNames)
        if (n.control == control) return qs(n.name);
    return QString::fromUtf8(control.data(), static_cast<qsizetype>(control.size()));
}

QString patternProblemText(const std::string& english) {
    for (const Said& s : kPatternProblems)
        if (english == s.english) return qs(s.chinese);
    return QStringLiteral("写法有误（%1）").arg(QString::fromStdString(english));
}

QString advancedBoxProblem(std::string_view control, const QString& text,
                           const std::function<QString(std::string_view)>& valueOf) {
    if (text.trimmed().isEmpty()) return {};
    const Text value = toGbk(text);
    auto whole = [&](int low, int high, const char* unit) -> QString {
        return boxNumber(value, low, high) ? QString() : range(low, high, unit);
    };
    if (control == ctl::kRetries) return whole(0, 100, "（次）");
    if (control == ctl::kCooldown) return whole(0, 86400, "（秒）");
    if (control == ctl::kStoreTimeout) return whole(1, 86400, "（秒）");
    if (control == ctl::kMaxAnswerMib) return whole(1, kMaxAnswerMib, "（MiB）");
    if (control == ctl::kDeadline) return whole(1, kMaxDeadlineSeconds, "（秒）");
    if (control == ctl::kMaxDepth)
        return boxNumber(value, 0, INT_MAX) ? QString() : QStringLiteral("应为 0 或正整数（0：不限）");
    if (control == ctl::kMinChars || control == ctl::kMaxChars) {
        if (!boxNumber(value, 0, INT_MAX)) return QStringLiteral("应为 0 或正整数（0：不限）");
        if (control == ctl::kMaxChars) {
            const Text low = toGbk(valueOf(ctl::kMinChars));
            const auto min = boxNumber(low, 0, INT_MAX);
            const auto max = boxNumber(value, 0, INT_MAX);
            if (min && *min > 0 && *max > 0 && *max < *min)
                return QStringLiteral("不能少于最少字数 %1").arg(*min);
        }
        return {};
    }
    if (control == ctl::kParallelRate)
        return parseParallelRate(utf8(text)) ? QString()
                                             : QStringLiteral("应为 %1 到 %2 之间的数，可有小数（如 0.5）")
                                                   .arg(kMinParallelRate)
                                                   .arg(kMaxParallelRate);
    if (control == ctl::kIncludePattern || control == ctl::kExcludePattern) {
        const std::string problem = RegexObject::patternProblem(value);
        return problem.empty() ? QString() : patternProblemText(problem);
    }
    if (control == ctl::kProxyList) {
        const QStringList lines = text.split(QLatin1Char('\n'));
        QStringList bad;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString line = lines[i].trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
            if (!parseProxy(utf8(line))) bad << QString::number(i + 1);
        }
        if (bad.isEmpty()) return {};
        return QStringLiteral("第 %1 行不是可用的代理（写法如 socks5://用户:密码@主机:端口）")
            .arg(bad.join(QStringLiteral("、")));
    }
    if (control == ctl::kRunStore) {
        std::string error;
        return parseStoreSpec(utf8(text), {}, &error)
                   ? QString()
                   : QStringLiteral("无法使用：") + QString::fromStdString(error);
    }
    return {};
}

} // namespace zelkor::app
