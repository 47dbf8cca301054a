// Key acceptors over the shared key filters.
#pragma once

#include "ui/file/KeyFilters.h"
#include "ui/window/EditInputRules.h"

namespace r4t8 {

// None gives an empty acceptor: the edit is not filtered at all.
inline KeyAcceptor AcceptorFor(KeyFilter filter) {
    if (filter == KeyFilter::None) return {};
    return [filter](QChar ch, const QString& text) { return KeyFilterAccepts(filter, ch, text); };
}

}  // namespace r4t8
