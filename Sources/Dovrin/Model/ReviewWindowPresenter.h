#pragma once

#include "Async/Task.h"

#include <functional>
#include <memory>

class AppModel;
class ReviewSession;

// The one "Review Capture" window as the model drives it; the windows layer implements it. The
// model makes it on the first review and keeps it.
class ReviewWindowPresenter
{
public:
    // Asked when the user closes the window: the window stays open until the answer is true.
    using CloseVeto = std::function<Task<bool>()>;

    virtual ~ReviewWindowPresenter() = default;

    // Shows `session` for `model` (replacing what was shown), keeps `shouldClose` as the close veto
    // and brings the window forward.
    virtual void present(std::shared_ptr<ReviewSession> session, AppModel *model, CloseVeto shouldClose) = 0;
    // Hides the window without asking the veto, which is dropped.
    virtual void orderOut() = 0;
    // Makes the window key and brings it to the front.
    virtual void bringToFront() = 0;
};
