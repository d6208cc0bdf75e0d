// An environment variable put back as it was when the guard ends, set or not.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

namespace lirno::test {

class EnvGuard {
  public:
    explicit EnvGuard(std::string name) : name_(std::move(name)) {
        if (const char* v = ::getenv(name_.c_str())) saved_ = v;
    }
    EnvGuard(std::string name, const std::string& value) : EnvGuard(std::move(name)) { set(value); }
    ~EnvGuard() {
        if (saved_)
            ::setenv(name_.c_str(), saved_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

    void set(const std::string& value) const { ::setenv(name_.c_str(), value.c_str(), 1); }

  private:
    std::string name_;
    std::optional<std::string> saved_;
};

}  // namespace lirno::test
