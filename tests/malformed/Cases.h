// Looks up the shared hostile inputs by name, so that a test and the fuzz
// seed of the same case are one and the same bytes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/malformed/HostileInputs.h"

namespace qel::testing {

inline Bytes caseNamed(const std::vector<NamedInput>& cases, const std::string& name) {
    for (const NamedInput& c : cases) {
        if (c.name == name) return c.bytes;
    }
    ADD_FAILURE() << "no hostile input named " << name;
    return {};
}

inline Bytes hostileBmp(const std::string& name) { return caseNamed(hostileBmps(), name); }
inline Bytes soundBmp(const std::string& name) { return caseNamed(soundBmps(), name); }
inline Bytes hostilePacked(const std::string& name) { return caseNamed(hostilePackedFiles(), name); }

}  // namespace qel::testing
