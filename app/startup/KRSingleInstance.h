#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class KRSingleInstanceObject;

// One Korvane per desktop session: the first start takes a name on the session bus; a later
// start hands its projects to that one (which opens them, or brings its window to the front
// when there are none) and ends. Without a session bus every start runs on its own. Main
// thread only, after the application object exists.
class KRSingleInstance
{
public:
    static constexpr const char *ServiceName = "org.korvane.Korvane";
    static constexpr const char *ObjectPath = "/org/korvane/Korvane";
    static constexpr const char *InterfaceName = "org.korvane.Korvane";

    // What the running instance does with the projects another start asked for (absolute
    // package paths; none: bring a window to the front).
    using Opener = std::function<void(const QStringList &projects)>;

    KRSingleInstance();
    ~KRSingleInstance();

    enum class Outcome {
        First,      // this instance took the name (or there is no session bus): it runs
        HandedOver, // the running one took the projects: this start ends
        Refused,    // the running one does not answer: this start ends with an error
    };
    struct Result {
        Outcome outcome = Outcome::First;
        QString error = {}; // Refused: what the bus said
    };
    // Takes the name, or hands the projects to the instance that holds it. A First instance
    // answers later starts through the opener.
    Result start(const QStringList &projects);
    // Requests that arrive before it is set wait for it.
    void setOpener(Opener opener);

private:
    std::unique_ptr<KRSingleInstanceObject> m_object;
};
