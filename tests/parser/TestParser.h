// A parser whose definitions and settings come from the test, and a command line that owns its
// words.
#pragma once

#include <string>
#include <vector>

#include "tool/parser/CliParserBase.h"

using tool::parser::ArgumentDefinition;
using tool::parser::ArgumentResult;
using tool::parser::CliInfo;

class CommandLine {
  public:
    explicit CommandLine(std::vector<std::wstring> words) : words_(std::move(words)) {
        for (const std::wstring& w : words_) {
            pointers_.push_back(w.c_str());
        }
        pointers_.push_back(nullptr);
    }
    std::int32_t count() const { return static_cast<std::int32_t>(words_.size()); }
    const wchar_t* const* data() const { return pointers_.data(); }

  private:
    std::vector<std::wstring> words_;
    std::vector<const wchar_t*> pointers_;
};

inline ArgumentDefinition arg(const std::wstring& tag, std::vector<std::wstring> switches,
                              int paramCount = 0, int argType = 0) {
    ArgumentDefinition d;
    d.tagName = tag;
    d.switches = std::move(switches);
    d.paramCount = paramCount;
    d.argType = argType;
    return d;
}

class TestParser : public tool::parser::CliParserBase {
  public:
    TestParser(const CommandLine& line, std::vector<ArgumentDefinition> definitions,
               CliInfo info = CliInfo())
        : CliParserBase(line.count(), line.data()), definitions_(std::move(definitions)),
          info_(std::move(info)) {}

    int getRequest(void*) override { return 0; }
    void clearRequest(void*) override {}

    using CliParserBase::entries;
    using CliParserBase::optimize;
    using CliParserBase::regist;
    using CliParserBase::setInfo;

    int defineResult = 1;

  protected:
    int define() override {
        setInfo(info_);
        for (const ArgumentDefinition& d : definitions_) {
            regist(d);
        }
        return defineResult;
    }

  private:
    std::vector<ArgumentDefinition> definitions_;
    CliInfo info_;
};
