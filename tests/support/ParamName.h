// Names parameterised test cases after their `label` field.
#pragma once

#include <string>

#include <gtest/gtest.h>

struct ByLabel {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        std::string name;
        for (char c : std::string(info.param.label)) {
            name.push_back(
                (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ? c
                                                                                           : '_');
        }
        return name + "_" + std::to_string(info.index);
    }
};
