// OutcomeListeners: the session's IOutcomes. Every outcome reaches each listener in the order
// they were added; the sequences report here, and the front end is one of the listeners.
#pragma once

#include <functional>
#include <map>

#include "protocol/Outcome.h"

namespace r4t8 {

class OutcomeListeners : public IOutcomes {
  public:
    using Listener = std::function<void(Operation op, Outcome outcome)>;

    int Add(Listener listener) {
        m_listeners.emplace(m_next, std::move(listener));
        return m_next++;
    }
    void Remove(int id) { m_listeners.erase(id); }

    void OperationFinished(Operation op, Outcome outcome) override {
        // A copy: a listener may add or remove listeners.
        const auto listeners = m_listeners;
        for (const auto& entry : listeners) entry.second(op, outcome);
    }

  private:
    std::map<int, Listener> m_listeners;
    int m_next = 1;
};

}  // namespace r4t8
