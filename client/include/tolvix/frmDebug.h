// frmDebug.h: the client library's trace window, one per thread. The transport writes the requests it
// sends and the replies and chunks it receives into its list; the application reads the list, empties it
// (the Reset button) or shows the window, which here means that every line is also handed to a sink as it
// arrives (standard error unless the application installs another).
//
// Two kinds of line go to the top of the list ("Sendt: ", "Got: ", newest first) and two to the bottom
// ("Recieved: ", "Got from buffer: ", newest last); the spellings are the ones tools and logs look for.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvix {

class frmDebug final {
public:
    using Sink = std::function<void(const std::string&)>;

    // The list keeps this many lines and drops the oldest beyond them: the "Recieved: " lines are written
    // for every read, also while nobody looks, and a long-running program must not grow without bound.
    static constexpr size_t kDefaultMaxLines = 10000;

    // This thread's window, created on first use and hidden until shown.
    static frmDebug& instance();

    // Shows the window: from now on every new line is also passed to the sink.
    void Show();
    bool Visible() const noexcept { return visible_; }
    // The Reset button: empties the list.
    void tbReset_Click() noexcept;
    // The list from top to bottom.
    std::vector<std::string> lbDebug() const;

    // Writing (the transport): at the top (index 0) or at the bottom of the list.
    void add_top(std::string line);
    void add_bottom(std::string line);

    // Where shown lines go; an empty sink restores the default (standard error, control characters
    // escaped). The sink must not throw: a trace line never fails the request that wrote it.
    void set_sink(Sink sink);
    void set_max_lines(size_t lines);

private:
    frmDebug() = default;
    void written(const std::string& line);   // bound the list, then pass the line on when shown
    void drop_oldest();

    // The list is top_ (newest first) followed by bottom_ (oldest first); each line carries its sequence
    // number so that the oldest line of the two halves can be found when the bound is reached.
    struct Line {
        unsigned long long seq;
        std::string text;
    };
    std::deque<Line> top_;
    std::deque<Line> bottom_;
    unsigned long long next_seq_ = 0;
    size_t max_lines_ = kDefaultMaxLines;
    bool visible_ = false;
    Sink sink_;
};

// Text as a shell or a log prints it: control characters (codes below 32 and 127) as \xNN, the backslash
// as \\, everything else unchanged.
std::string escaped(std::string_view text);

}  // namespace tolvix
