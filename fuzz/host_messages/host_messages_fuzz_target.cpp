// Any list of pending messages through the joiner behind the errors
// property: the page's reading of the joined text ("|" between messages, a
// quoted message with its quotes doubled) gives back the same messages in
// the same order. The first byte separates the messages in the rest of the
// input, so that every byte value can appear in a message. Built as a
// libFuzzer target here and as the corpus replayer of the fuzz tests.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/app.h"
#include "fuzz_check.h"

namespace {

// The page's reading of the errors text: nothing for the empty text; else
// entries up to each "|"; an entry opening with a quote runs to the quote
// that is not doubled, and what follows it up to the "|" belongs to it.
std::vector<std::string> SplitPending(const std::string& text) {
    std::vector<std::string> out;
    if (text.empty())
        return out;
    std::size_t i = 0;
    const std::size_t n = text.size();
    for (;;) {
        std::string item;
        if (text[i] == '"') {
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        item += '"';
                        i += 2;
                    } else {
                        ++i;
                        break;
                    }
                } else {
                    item += text[i++];
                }
            }
        }
        while (i < n && text[i] != '|')
            item += text[i++];
        out.push_back(item);
        if (i >= n)
            break;
        ++i;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> messages;
    if (size > 0) {
        const char separator = static_cast<char>(data[0]);
        messages.emplace_back();
        for (std::size_t i = 1; i < size; ++i) {
            if (static_cast<char>(data[i]) == separator)
                messages.emplace_back();
            else
                messages.back() += static_cast<char>(data[i]);
        }
    }
    const std::string joined = JoinPendingMessages(messages);
    Check(SplitPending(joined) == messages);
    return 0;
}
