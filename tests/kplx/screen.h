// A terminal screen, as much of one as kplx's live progress needs: text, CR, LF (the tty turns
// it into CR LF), cursor up (CSI n A), erase to the end of the row (CSI K) and below (CSI J).
// A line longer than the width wraps, and a resize rewraps what was written, as VTE, Konsole,
// Windows Terminal and tmux do. Rows above the screen's top are the scrollback: the top moves
// down only when the cursor would leave the screen (text scrolling up, or a resize), and
// cursor-up stops at it.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace kplxtest {

class Screen {
public:
    Screen(int columns, int rows) : columns_(columns), rows_(rows) {}

    void resize(int columns, int rows)
    {
        columns_ = columns;
        rows_ = rows;
        keepCursorOnScreen();
    }

    void write(const std::string &bytes)
    {
        for (size_t i = 0; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (c == '\x1b' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
                size_t end = i + 2;
                while (end < bytes.size() && bytes[end] >= '0' && bytes[end] <= '9')
                    ++end;
                if (end == bytes.size())
                    break;
                const int n = end > i + 2 ? std::stoi(bytes.substr(i + 2, end - i - 2)) : 1;
                control(bytes[end], n);
                i = end;
            } else if (c == '\r') {
                col_ -= col_ % width();
            } else if (c == '\n') {
                newLine();
            } else {
                put(c);
            }
        }
    }

    // The rows on screen, top to bottom, without trailing blanks.
    std::vector<std::string> visible() const
    {
        std::vector<std::string> rows = allRows();
        rows.erase(rows.begin(), rows.begin() + std::min(rows.size(), static_cast<size_t>(topRow())));
        rows.resize(static_cast<size_t>(rows_));
        return rows;
    }

    // Every row ever written, the scrollback's too.
    std::vector<std::string> allRows() const
    {
        std::vector<std::string> rows;
        for (size_t l = 0; l < lines_.size(); ++l)
            for (int r = 0; r < rowsOf(l); ++r) {
                std::string row = lines_[l].substr(std::min(lines_[l].size(), static_cast<size_t>(r) * width()), width());
                row.erase(row.find_last_not_of(' ') + 1);
                rows.push_back(row);
            }
        return rows;
    }

private:
    size_t width() const { return static_cast<size_t>(columns_); }

    // A logical line's rows; the cursor's line reaches at least the cursor's row.
    int rowsOf(size_t line) const
    {
        const size_t length = lines_[line].size();
        int rows = length == 0 ? 1 : static_cast<int>((length + width() - 1) / width());
        if (line == line_)
            rows = std::max(rows, static_cast<int>(col_ / width()) + 1);
        return rows;
    }

    int cursorRow() const
    {
        int row = 0;
        for (size_t l = 0; l < line_; ++l)
            row += rowsOf(l);
        return row + static_cast<int>(col_ / width());
    }

    // The screen's top, kept as a row of a line so that it stays put when lines rewrap.
    int topRow() const
    {
        int row = 0;
        for (size_t l = 0; l < topLine_; ++l)
            row += rowsOf(l);
        return row + std::min(topRowInLine_, rowsOf(topLine_) - 1);
    }

    void setTop(int row)
    {
        for (topLine_ = 0; topLine_ + 1 < lines_.size() && row >= rowsOf(topLine_); ++topLine_)
            row -= rowsOf(topLine_);
        topRowInLine_ = row;
    }

    void keepCursorOnScreen()
    {
        if (cursorRow() > topRow() + rows_ - 1)
            setTop(cursorRow() - rows_ + 1);
    }

    void put(char c)
    {
        std::string &line = lines_[line_];
        if (line.size() < col_)
            line.resize(col_, ' ');
        if (col_ < line.size())
            line[col_] = c;
        else
            line.push_back(c);
        ++col_;
        keepCursorOnScreen();
    }

    void newLine()
    {
        if (static_cast<int>(col_ / width()) + 1 < rowsOf(line_)) {
            col_ = (col_ / width() + 1) * width();
        } else {
            if (++line_ == lines_.size())
                lines_.emplace_back();
            col_ = 0;
        }
        keepCursorOnScreen();
    }

    void control(char final, int n)
    {
        if (final == 'A') {
            int target = std::max(topRow(), cursorRow() - n);
            const size_t column = col_ % width();
            col_ = 0;   // so that no line counts the old cursor's rows while the new one is found
            for (line_ = 0; line_ + 1 < lines_.size() && target >= rowsOf(line_); ++line_)
                target -= rowsOf(line_);
            col_ = static_cast<size_t>(target) * width() + column;
        } else if (final == 'K') {
            std::string &line = lines_[line_];
            const size_t rowEnd = (col_ / width() + 1) * width();
            if (line.size() <= rowEnd)
                line.resize(std::min(line.size(), col_));
            else
                std::fill(line.begin() + static_cast<long>(col_), line.begin() + static_cast<long>(rowEnd), ' ');
        } else if (final == 'J') {
            std::string &line = lines_[line_];
            line.resize(std::min(line.size(), col_));
            lines_.resize(line_ + 1);
        }
    }

    std::vector<std::string> lines_{""};   // split where a line feed ended them
    size_t line_ = 0;                      // the cursor: its line, and its place in it
    size_t col_ = 0;
    size_t topLine_ = 0;                   // the screen's top row
    int topRowInLine_ = 0;
    int columns_;
    int rows_;
};

}  // namespace kplxtest
