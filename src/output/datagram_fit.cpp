#include "output/datagram_fit.h"

#include <algorithm>

namespace tallowick::output {
namespace {
std::size_t escaped_size(unsigned char byte) {
    if (byte == '"' || byte == '\\' || byte == '\b' || byte == '\t' || byte == '\n' || byte == '\f' ||
        byte == '\r')
        return 2;
    return byte < 0x20 ? 6 : 1; // \u00XX
}

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The longest prefix of `text` whose escaped form takes at most `budget`
// bytes and that ends on a character boundary.
std::size_t prefix_within(std::string_view text, std::size_t budget) {
    std::size_t used = 0;
    std::size_t length = 0;
    while (length < text.size()) {
        const std::size_t next = escaped_size(static_cast<unsigned char>(text[length]));
        if (used + next > budget)
            break;
        used += next;
        ++length;
    }
    while (length > 0 && length < text.size() && is_continuation(static_cast<unsigned char>(text[length])))
        --length;
    return length;
}

// Members by index: RapidJSON's member iterators compare ambiguously in C++20.
rapidjson::Value::Member& member_at(rapidjson::Document& message, rapidjson::SizeType index) {
    return *(message.MemberBegin() + index);
}

struct string_member {
    rapidjson::Value* value;
    std::size_t content; // escaped bytes between the quotes
};
} // namespace

std::size_t escaped_size(std::string_view text) {
    std::size_t size = 0;
    for (const char byte : text)
        size += escaped_size(static_cast<unsigned char>(byte));
    return size;
}

std::optional<std::vector<shortened_value>> shorten_to_fit(rapidjson::Document& message,
                                                           std::size_t serialised_size, std::size_t limit,
                                                           std::size_t kept_members) {
    if (serialised_size <= limit)
        return std::vector<shortened_value>{};
    if (!message.IsObject())
        return std::nullopt;
    const rapidjson::SizeType cuttable =
        message.MemberCount() > kept_members
            ? message.MemberCount() - static_cast<rapidjson::SizeType>(kept_members)
            : 0;
    std::vector<string_member> strings;
    std::size_t longest = 0;
    for (rapidjson::SizeType i = 0; i < cuttable; ++i) {
        rapidjson::Value::Member& member = member_at(message, i);
        if (!member.value.IsString())
            continue;
        const std::size_t content =
            escaped_size(std::string_view(member.value.GetString(), member.value.GetStringLength()));
        strings.push_back({&member.value, content});
        longest = std::max(longest, content);
    }
    const std::size_t excess = serialised_size - limit;
    const auto saved_at = [&strings](std::size_t cap) {
        std::size_t saved = 0;
        for (const string_member& member : strings)
            saved += member.content > cap ? member.content - cap : 0;
        return saved;
    };
    if (saved_at(0) < excess)
        return std::nullopt;
    // The largest common cap that saves enough: cutting each value to at most
    // `cap` escaped bytes saves at least what saved_at(cap) counts.
    std::size_t low = 0;
    std::size_t high = longest;
    while (low < high) {
        const std::size_t middle = low + (high - low + 1) / 2;
        if (saved_at(middle) >= excess)
            low = middle;
        else
            high = middle - 1;
    }
    std::vector<shortened_value> shortened;
    for (rapidjson::SizeType i = 0; i < cuttable; ++i) {
        rapidjson::Value::Member& member = member_at(message, i);
        if (!member.value.IsString())
            continue;
        const std::string_view text(member.value.GetString(), member.value.GetStringLength());
        const std::size_t old_content = escaped_size(text);
        if (old_content <= low)
            continue;
        // Copied out first: a short value lives inside the node being replaced.
        const std::string kept(text.substr(0, prefix_within(text, low)));
        shortened.push_back({std::string(member.name.GetString(), member.name.GetStringLength()),
                             old_content + 2, escaped_size(kept) + 2});
        member.value.SetString(kept.data(), static_cast<rapidjson::SizeType>(kept.size()),
                               message.GetAllocator());
    }
    return shortened;
}

} // namespace tallowick::output
