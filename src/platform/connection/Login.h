#pragma once
// One connection's whole plan, made once, as FreeTDS's own login object
// carries it: the request, the target and its route (resolved once), the
// rule the certificate must meet, one time budget for everything (the login
// time-out, however many attempts, and at most 2 s more to explain a
// failure), and the attempts themselves as data: TDS 8.0 ("strict") where
// the driver and the server speak it, then TDS 7.x with encryption required.
//
// An attempt that fails is judged from what its relay saw: it may give way
// to the next attempt (the server does not speak TDS 8.0), be tried again
// once the user trusts the certificate, or turn into TDS 8.0 alone (a
// server that closes TDS 7.x yet speaks it); anything else ends the plan
// with the failure explained, naming the step it reached.

#include "Connect.h"
#include "DriverRelay.h"
#include "Target.h"

#include <QDeadlineTimer>

#include <deque>
#include <memory>
#include <variant>

namespace connection {

enum class Encryption { Require, Strict };

// A connected driver and the relay it reaches its server through.
struct Established {
    std::unique_ptr<odbc::Connection> connection;
    std::shared_ptr<DriverRelay> relay;
};

class Login {
public:
    // Works out the target and its route.  Throws the failure as the user
    // reads it.
    explicit Login(const Request& request);

    // Runs the plan.  Throws an odbc::Error that explains the failure.
    Established connect();

private:
    struct Attempt {
        Encryption encryption;
        // What a refused TDS 8.0 attempt at a server that does not speak it
        // now leads to.
        enum class IfNotStrict { Explain, FallBack, SayWithdrawn } ifNotStrict;
    };
    enum class Next { FallBack, Again, StrictOnly };
    // An attempt the driver failed, with what its relay saw.
    struct Failed {
        odbc::Error failure;
        DriverRelay::Observed seen;
        bool driverLeft; // the driver went on elsewhere (routing)
    };

    std::deque<Attempt> planFor() const;
    std::variant<Established, Failed> attempt(const Attempt& a);
    // What follows a failed attempt; throws the failure explained when
    // nothing does.
    Next judge(const Attempt& a, const Failed& failed);
    enum class Verdict { Verified, Trusted, Declined, Unknown };
    Verdict judgeCertificate(const Attempt& a, const DriverRelay::Observed& seen,
                             QDeadlineTimer deadline);
    // The bound of one explanation: 2 s, and never past the budget's 2 s.
    QDeadlineTimer explanationDeadline() const;

    Request request_;
    QDeadlineTimer budget_;
    Target target_;
    std::deque<Attempt> plan_;
    bool certificateAsked_ = false;
};

} // namespace connection
