#pragma once

class QKeyEvent;

namespace tf {

// What the document view needs of its main window for the keyboard: every key
// pressed in the view is handed over here (the view itself handles no key).
class Connector {
public:
    virtual ~Connector() = default;
    virtual void processKey(QKeyEvent& event) = 0;
};

} // namespace tf
