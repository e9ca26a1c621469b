// Vector code (the convention is in the top-level CMakeLists.txt): the level
// loops of Counter and Filler vectorise at the -O3 of optimised builds.
#include "text_writer.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace protocols::text {
namespace {

// Every level from 0 to 32767 as text followed by its comma, in the low bytes
// of a 64-bit word whose top byte is the length: one load and one eight-byte
// store per level.
class LevelTexts {
public:
    LevelTexts() noexcept {
        for (std::size_t level = 0; level < texts_.size(); ++level) {
            char bytes[8] = {};
            char* end = std::to_chars(bytes, bytes + 6, level).ptr;
            *end++ = ',';
            bytes[7] = static_cast<char>(end - bytes);
            std::memcpy(&texts_[level], bytes, sizeof bytes);
        }
    }
    std::uint64_t operator[](std::int16_t level) const noexcept { return texts_[static_cast<std::size_t>(level)]; }

private:
    std::array<std::uint64_t, 32768> texts_;
};

const LevelTexts& level_texts() {
    static const LevelTexts texts;  // 256 KiB, made on the first waveform shown
    return texts;
}

// A line break and the indentation of a level, copied as one fixed block
// (levels usually stand at depth 6: 25 bytes).
constexpr std::size_t LINE_BLOCK = 32;
// Bytes a level line may store past its end on the fast path: the rest of
// the line block and of the eight-byte level text.
constexpr std::size_t LEVEL_OVERRUN = LINE_BLOCK + 8;
// The longest text of a level and its comma: "-32768,".
constexpr std::size_t MAX_LEVEL_TEXT = 7;

inline std::size_t level_digits(std::int16_t level) noexcept {
    const int a = level < 0 ? -level : level;
    return static_cast<std::size_t>(1 + (a > 9) + (a > 99) + (a > 999) + (a > 9999) + (level < 0));
}

// One level line at `p`, exactly (for the end of the buffer and negatives).
char* put_level_line(char* p, std::int16_t level, std::size_t indent) noexcept {
    *p++ = '\n';
    std::memset(p, ' ', indent);
    p = std::to_chars(p + indent, p + indent + 6, level).ptr;
    *p++ = ',';
    return p;
}

}  // namespace

void Counter::levels(std::span<const std::int16_t> levels, std::size_t depth) noexcept {
    std::size_t digits = 0;
    for (const std::int16_t level : levels) digits += level_digits(level);
    size_ += levels.size() * (1 + 4 * depth + 1) + digits;  // line break, indentation, comma
}

void Counter::levels_inline(std::span<const std::int16_t> levels) noexcept {
    std::size_t digits = 0;
    for (const std::int16_t level : levels) digits += level_digits(level);
    size_ += levels.size() + digits;  // and a comma each
}

void Filler::newline(std::size_t depth) noexcept {
    if (!fits(1 + 4 * depth)) return;
    *p_++ = '\n';
    std::memset(p_, ' ', 4 * depth);
    p_ += 4 * depth;
}

void Filler::levels(std::span<const std::int16_t> levels, std::size_t depth) noexcept {
    const std::size_t indent = 4 * depth;
    std::size_t i = 0;
    if (indent + 1 <= LINE_BLOCK) {
        std::array<char, LINE_BLOCK> line;
        line.fill(' ');
        line[0] = '\n';
        const LevelTexts& texts = level_texts();
        char* p = p_;
        // Fixed-size stores run past the line's end; stop while they stay
        // inside the buffer.
        for (; i < levels.size() && static_cast<std::size_t>(end_ - p) >= LEVEL_OVERRUN; ++i) {
            const std::int16_t level = levels[i];
            if (level < 0) {
                p = put_level_line(p, level, indent);
                continue;
            }
            std::memcpy(p, line.data(), LINE_BLOCK);
            p += indent + 1;
            const std::uint64_t text = texts[level];
            std::memcpy(p, &text, sizeof text);
            p += text >> 56;
        }
        p_ = p;
    }
    for (; i < levels.size(); ++i) {
        if (!fits(1 + indent + level_digits(levels[i]) + 1)) return;
        p_ = put_level_line(p_, levels[i], indent);
    }
}

void Filler::levels_inline(std::span<const std::int16_t> levels) noexcept {
    const LevelTexts& texts = level_texts();
    std::size_t i = 0;
    char* p = p_;
    for (; i < levels.size() && static_cast<std::size_t>(end_ - p) >= 8; ++i) {
        const std::int16_t level = levels[i];
        if (level < 0) {
            p = std::to_chars(p, p + MAX_LEVEL_TEXT, level).ptr;
            *p++ = ',';
            continue;
        }
        const std::uint64_t text = texts[level];
        std::memcpy(p, &text, sizeof text);
        p += text >> 56;
    }
    p_ = p;
    for (; i < levels.size(); ++i) {
        if (!fits(level_digits(levels[i]) + 1)) return;
        p_ = std::to_chars(p_, p_ + MAX_LEVEL_TEXT, levels[i]).ptr;
        *p_++ = ',';
    }
}

void Streamer::flush() {
    if (p_ != begin_) sink_.write({reinterpret_cast<const std::uint8_t*>(begin_), static_cast<std::size_t>(p_ - begin_)});
    p_ = begin_;
}

void Streamer::put(std::string_view s) {
    if (s.size() > free()) {
        flush();
        if (s.size() > free()) {  // longer than the buffer: a coil name, say
            sink_.write({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
            return;
        }
    }
    std::memcpy(p_, s.data(), s.size());
    p_ += s.size();
}

void Streamer::newline(std::size_t depth) {
    if (1 + 4 * depth > free()) flush();
    Filler filler({p_, free()});
    filler.newline(depth);
    p_ = filler.position();
}

// Hands the levels to write(filler, run) a buffer's worth at a time: as many
// as fit at `longest` bytes each.
template <class Write>
void Streamer::in_runs(std::span<const std::int16_t> levels, std::size_t longest, Write&& write) {
    while (!levels.empty()) {
        if (free() < longest) flush();
        const std::size_t run = std::min(levels.size(), free() / longest);
        Filler filler({p_, free()});
        write(filler, levels.first(run));
        p_ = filler.position();
        levels = levels.subspan(run);
    }
}

void Streamer::levels(std::span<const std::int16_t> levels, std::size_t depth) {
    // A line break, the indentation and "-32768,".
    in_runs(levels, 1 + 4 * depth + MAX_LEVEL_TEXT, [depth](Filler& f, auto run) { f.levels(run, depth); });
}

void Streamer::levels_inline(std::span<const std::int16_t> levels) {
    in_runs(levels, MAX_LEVEL_TEXT, [](Filler& f, auto run) { f.levels_inline(run); });
}

void Appender::levels(std::span<const std::int16_t> levels, std::size_t depth) {
    for (const std::int16_t level : levels) {  // the plain way; Filler is the fast one
        newline(depth);
        char buf[8];
        out_.append(buf, std::to_chars(buf, buf + sizeof buf, level).ptr);
        out_ += ',';
    }
}

void Appender::levels_inline(std::span<const std::int16_t> levels) {
    for (const std::int16_t level : levels) {
        char buf[8];
        out_.append(buf, std::to_chars(buf, buf + sizeof buf, level).ptr);
        out_ += ',';
    }
}

ProtocolText measure_protocol(const Settings& settings, Form form) noexcept {
    Counter counter;
    if (form.json) JsonWriter<Counter>(counter, form.waveforms).value(settings);
    else write_protocol(settings, counter, form.waveforms);
    return {counter.size(), counter.ascii()};
}

void render_protocol(const Settings& settings, std::span<char> out, Form form) {
    Filler filler(out);
    if (form.json) JsonWriter<Filler>(filler, form.waveforms).value(settings);
    else write_protocol(settings, filler, form.waveforms);
    if (!filler.filled()) throw std::logic_error("the text of the protocol did not come out as long as counted");
}

void render_protocol(const Settings& settings, Form form, std::span<char> buffer, ByteSink& sink) {
    if (buffer.size() < MIN_RENDER_BUFFER) throw std::length_error("render_protocol: buffer below MIN_RENDER_BUFFER");
    Streamer streamer(buffer, sink);
    if (form.json) JsonWriter<Streamer>(streamer, form.waveforms).value(settings);
    else write_protocol(settings, streamer, form.waveforms);
    streamer.flush();
}

std::string render_protocol(const Settings& settings, Form form) {
    std::string out(measure_protocol(settings, form).size, '\0');
    render_protocol(settings, out, form);
    return out;
}

std::size_t shortened_waveforms(const Settings& s) noexcept {
    return static_cast<std::size_t>(std::count_if(s.signals.begin(), s.signals.end(), [](const Signal& signal) {
        const auto* a = std::get_if<ArbitrarySignalParams>(&signal.payload);
        return a != nullptr && a->samples.size() > EDGE_THRESHOLD;
    }));
}

std::string one_line_record(std::string_view name, const OneLineFields& fields) {
    std::string out;
    Appender a(out);
    Writer<Appender>(a, Layout::OneLine).record(name, [&](auto& f) {
        for (const auto& [field, value] : fields.fields()) {
            std::visit([&](const auto& v) { f.field(field, v); }, value);
        }
    });
    return out;
}

}  // namespace protocols::text
