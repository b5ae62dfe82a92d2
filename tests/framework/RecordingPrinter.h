// A console printer that keeps what the tool prints, in order, instead of writing it out.
#pragma once

#include <string>

#include "tool/print/Print.h"

class RecordingPrinter : public tool::print::Print {
  public:
    explicit RecordingPrinter(std::string& sink) : sink_(sink) {}
    void print(const std::wstring& text) override {
        for (wchar_t c : std::wstring(text.c_str())) {
            sink_.push_back(static_cast<char>(c));
        }
    }
    void print(const std::string& text) override { sink_ += text.c_str(); }

  private:
    std::string& sink_;
};
