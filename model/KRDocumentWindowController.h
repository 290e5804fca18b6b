#pragma once

#include <memory>

class KRFunction;
class KRProjectBase;

// The project window as the document and the model objects see it. The workspace's window
// controller implements it; the document makes it through the factory installed with
// KRDocument::setWindowControllerFactory (headless documents have none).
class KRDocumentWindowController
{
public:
    virtual ~KRDocumentWindowController() = default;
    // The project made once the window has loaded; null before.
    virtual std::shared_ptr<KRProjectBase> project() const = 0;
    // Selects the function's page and the function and opens it in an editor tab.
    virtual void editFunction(const std::shared_ptr<KRFunction> &function) = 0;
    virtual void projectRunAction() = 0;
    virtual void createPageAction() = 0;
};
