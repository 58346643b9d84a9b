#pragma once

#include "base/json.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class KVAPI;
class KVLoginRoot;
class KVLoopback;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// The sign-in window: an ordinary light window, 420 × 600, that signs in or creates an account
// with e-mail and password through its own service client, or signs in with Google through the
// browser and a loopback receiver. On success it hands the token and the user record to
// onSignedIn and closes; closed by the user without signing in, it calls onCancelled (and the
// program quits), after which no late answer signs in. Main thread only; the network waits run
// on background queues and hold the window weakly.
class KVLogin : public std::enable_shared_from_this<KVLogin> {
public:
    static constexpr double kWidth = 420;
    static constexpr double kHeight = 600;
    static constexpr double kGoogleWaitSeconds = 300;

    // `base`: the service's root address. `googleWait`: how long a Google sign-in may take in
    // the browser (shortened by tests).
    static std::shared_ptr<KVLogin> create(const std::string& base,
                                           double googleWait = kGoogleWaitSeconds);
    ~KVLogin();
    KVLogin(const KVLogin&) = delete;
    KVLogin& operator=(const KVLogin&) = delete;

    bool registering = false;
    bool busy = false;
    bool didSignIn = false;
    std::function<void(const std::string& token, const KVJson& user)> onSignedIn;
    std::function<void()> onCancelled;

    // Brings the window to the front with the cursor in the e-mail field.
    void show();
    // Closes the window as a success (the stored session turned out to be good).
    void dismiss();
    // Disables everything but "Forgot password?" while a request runs; the message (or "")
    // goes in the error line.
    void setBusy(bool flag, const std::optional<std::string>& message);
    void beginRestore();
    void endRestore();

    void toggleTapped();
    void forgotTapped();
    void submitTapped();
    void googleTapped();
    void finish(const std::string& token, const KVJson& user);

    // What a failed e-mail sign-in shows, for the service at `base`: the service's words mapped
    // to the window's own, or the message itself.
    static std::string errorMessage(const std::optional<std::string>& errorText,
                                    const std::string& base);

    QWidget* window() const;
    QLabel* heading() const { return heading_; }
    QLabel* error() const { return error_; }
    QLabel* toggleNote() const { return toggleNote_; }
    QLineEdit* email() const { return email_; }
    QLineEdit* password() const { return password_; }
    QPushButton* submit() const { return submit_; }
    QPushButton* google() const { return google_; }
    QPushButton* toggle() const { return toggle_; }
    QPushButton* forgot() const { return forgot_; }
    bool googleRunning() const { return loopback_ != nullptr; }

private:
    friend class KVLoginRoot;
    KVLogin(const std::string& base, double googleWait);
    void build();
    void windowWillClose();
    void googleEnded(const std::shared_ptr<KVLoopback>& loopback, bool cancelled,
                     const std::string& token, const std::optional<KVJson>& user);

    std::string base_;
    double googleWait_;
    std::shared_ptr<KVAPI> api_;
    std::shared_ptr<KVLoopback> loopback_;
    // Counts the window's closings: an answer to a request made before the last one is late.
    int closings_ = 0;
    std::unique_ptr<KVLoginRoot> window_;
    QLabel* heading_ = nullptr;
    QLabel* error_ = nullptr;
    QLabel* toggleNote_ = nullptr;
    QLineEdit* email_ = nullptr;
    QLineEdit* password_ = nullptr;
    QPushButton* submit_ = nullptr;
    QPushButton* google_ = nullptr;
    QPushButton* toggle_ = nullptr;
    QPushButton* forgot_ = nullptr;
};
