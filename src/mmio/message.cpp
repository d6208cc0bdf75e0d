#include "mmio/message.h"

#include <cstdio>
#include <utility>

namespace lirno {

namespace {
MessageBoxHandler& handler() {
    static MessageBoxHandler h;
    return h;
}
}  // namespace

std::string messageLine(const Message& m) {
    return (m.caption.empty() ? std::string(kDefaultCaption) : m.caption) + ": " + m.text;
}

void MessageBox(Owner owner, const std::string& text, const std::string& caption, Icon icon) {
    Message m{owner, text, caption, icon};
    if (auto& h = handler()) {
        h(m);
        return;
    }
    std::fprintf(stderr, "%s\n", messageLine(m).c_str());
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler h) {
    return std::exchange(handler(), std::move(h));
}

}  // namespace lirno
