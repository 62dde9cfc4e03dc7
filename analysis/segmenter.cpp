#include "analysis/segmenter.h"

// The library's header declares C functions without saying so.
extern "C" {
#include <friso/friso.h>
}

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <list>
#include <mutex>

namespace zelkor {
namespace {

// Debian's libfriso0 ships this file; it names the UTF-8 dictionary of friso-dict.
constexpr const char* kFrisoIni = "/etc/friso/friso.ini";

struct Dictionary {
    friso_t friso = nullptr;
    friso_config_t config = nullptr;
    std::string failure;
    // friso keeps the pointers it is given, so the added words live as long as the dictionary.
    std::list<std::string> added;
};

// Loaded once and never freed: segmenters on any thread may use it until the process ends.
Dictionary& dictionary(const std::vector<std::string>& extraWords) {
    static Dictionary* loaded = [&] {
        auto* d = new Dictionary;
        if (!std::filesystem::exists(kFrisoIni)) {
            d->failure = std::string("the word dictionary's settings (") + kFrisoIni +
                         ") are missing; install the packages libfriso0 and friso-dict";
            return d;
        }
        d->friso = friso_new();
        d->config = friso_new_config();
        if (friso_init_from_ifile(d->friso, d->config, const_cast<char*>(kFrisoIni)) != 1 ||
            friso_all_dic_size(d->friso->dic) == 0) {
            d->failure = std::string("the word dictionary named in ") + kFrisoIni +
                         " could not be loaded; install the package friso-dict";
            return d;
        }
        d->config->add_syn = 0;  // synonyms would count one word twice
        d->config->en_sseg = 0;  // "iphone15" stays one word rather than three
        d->config->keep_urec = 1;
        d->config->clr_stw = 0;
        friso_set_mode(d->config, __FRISO_COMPLEX_MODE__);
        for (const std::string& word : extraWords) {
            if (word.empty() || friso_dic_match(d->friso->dic, __LEX_CJK_WORDS__, const_cast<char*>(word.c_str())))
                continue;
            d->added.push_back(word);
            friso_dic_add(d->friso->dic, __LEX_CJK_WORDS__, d->added.back().data(), nullptr);
        }
        return d;
    }();
    return *loaded;
}

bool isPunctuation(std::string_view word) {
    // One ASCII punctuation mark or one of the CJK symbol and full-width punctuation blocks.
    if (word.size() == 1) return std::ispunct(static_cast<unsigned char>(word[0])) != 0;
    if (word.size() != 3) return false;
    auto b0 = static_cast<unsigned char>(word[0]);
    auto b1 = static_cast<unsigned char>(word[1]);
    return (b0 == 0xE3 && b1 == 0x80) || (b0 == 0xEF && (b1 == 0xBC || b1 == 0xBD)) ||
           (b0 == 0xE2 && b1 == 0x80);
}

} // namespace

struct Segmenter::Task {
    friso_task_t task = friso_new_task();
    ~Task() { friso_free_task(task); }
};

Expected<Segmenter> Segmenter::open(const std::vector<std::string>& extraWords) {
    static std::mutex loading;
    std::lock_guard lock(loading);
    Dictionary& d = dictionary(extraWords);
    if (!d.failure.empty()) return Error{d.failure};
    return Segmenter(std::make_unique<Task>());
}

Segmenter::Segmenter(std::unique_ptr<Task> task) : m_task(std::move(task)) {}
Segmenter::Segmenter(Segmenter&&) noexcept = default;
Segmenter& Segmenter::operator=(Segmenter&&) noexcept = default;
Segmenter::~Segmenter() = default;

std::vector<std::string> Segmenter::words(std::string_view utf8) {
    std::vector<std::string> out;
    if (utf8.empty()) return out;
    Dictionary& d = dictionary({});
    std::string text(utf8); // friso wants a NUL-terminated, writable buffer
    friso_set_text(m_task->task, text.data());
    while (d.config->next_token(d.friso, d.config, m_task->task) != nullptr) {
        const friso_token_t token = m_task->task->token;
        std::string word(token->word, strnlen(token->word, sizeof token->word));
        if (word.empty() || word == " " || isPunctuation(word)) continue;
        std::transform(word.begin(), word.end(), word.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
        out.push_back(std::move(word));
    }
    return out;
}

} // namespace zelkor
