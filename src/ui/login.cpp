#include "ui/login.hpp"

#include "base/dispatch/background.hpp"
#include "base/dispatch/run_loop.hpp"
#include "base/utf8.hpp"
#include "platform/platform.hpp"
#include "service/api.hpp"
#include "service/loopback.hpp"
#include "ui/form_controls.hpp"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include <cmath>

// The window and its white content. Return presses the default button wherever the focus is
// (the text fields leave it to the window); closing hands over to the window's close handling.
class KVLoginRoot : public QWidget {
public:
    std::weak_ptr<KVLogin> owner;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        auto login = owner.lock();
        if (login && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
            if (login->submit()->isEnabled()) {
                login->submit()->click();
            }
            return;
        }
        QWidget::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override {
        event->accept(); // hidden, kept
        if (auto login = owner.lock()) {
            login->windowWillClose();
        }
    }
};

namespace {

// A label of the sign-in window: regular or semibold, coloured, at its frame.
QLabel* DarkLabel(QWidget* parent, std::string_view text, bool semibold, std::string_view hex,
                  Qt::Alignment alignment, const KVRect& frame, double size) {
    return KVFormLabel(parent, text, KVFormFont(size, semibold ? QFont::DemiBold : QFont::Normal),
                       hex, alignment, frame);
}

// A button drawn as its title alone.
void makeBorderless(QPushButton& button, std::string_view hex, std::string_view align) {
    button.setFlat(true);
    button.setCursor(Qt::PointingHandCursor);
    button.setAttribute(Qt::WA_Hover, false);
    button.setStyleSheet(QString("QPushButton { border: none; background: transparent; padding: 0;"
                                 " color: %1; text-align: %2; }"
                                 "QPushButton:hover, QPushButton:focus { background: transparent; }"
                                 "QPushButton:pressed { color: #a1a1aa; }"
                                 "QPushButton:disabled { color: #a1a1aa; }")
                             .arg(QString::fromUtf8(hex.data(), qsizetype(hex.size())),
                                  QString::fromUtf8(align.data(), qsizetype(align.size()))));
}

QPushButton* button(QWidget* parent, const char* title, const QFont& font, const KVRect& frame) {
    auto* made = new QPushButton(QString::fromUtf8(title), parent);
    made->setFont(font);
    KVPlace(*made, frame);
    return made;
}

} // namespace

std::shared_ptr<KVLogin> KVLogin::create(const std::string& base, double googleWait) {
    std::shared_ptr<KVLogin> login(new KVLogin(base, googleWait));
    login->build();
    return login;
}

KVLogin::KVLogin(const std::string& base, double googleWait)
    : base_(base), googleWait_(googleWait), api_(std::make_shared<KVAPI>(base, "")) {}

KVLogin::~KVLogin() {
    if (loopback_) {
        loopback_->closeSocket();
    }
    if (window_) {
        window_->owner.reset(); // destroying the window must not report a cancel
    }
}

void KVLogin::build() {
    const std::weak_ptr<KVLogin> weak = weak_from_this();
    const auto action = [weak](void (KVLogin::*method)()) {
        return [weak, method] {
            if (auto login = weak.lock()) {
                (login.get()->*method)();
            }
        };
    };

    window_ = std::make_unique<KVLoginRoot>();
    window_->owner = weak;
    QWidget* root = window_.get();
    root->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint);
    root->setWindowTitle("Sign in to Korvane");
    root->setFixedSize(int(kWidth), int(kHeight));
    root->setAutoFillBackground(true);

    DarkLabel(root, "Korvane", true, "#111111", Qt::AlignHCenter, {48, 44, 324, 28}, 22);
    heading_ = DarkLabel(root, "Sign in to Korvane", true, "#111111", Qt::AlignHCenter,
                         {48, 90, 324, 28}, 22);
    DarkLabel(root, "Login Email", true, "#3f3f46", Qt::AlignLeft, {48, 146, 324, 18}, 13);
    email_ = new QLineEdit(root);
    email_->setFont(KVFormFont(14));
    email_->setPlaceholderText("you@example.com");
    KVPlace(*email_, {48, 170, 324, 34});
    DarkLabel(root, "Password", true, "#3f3f46", Qt::AlignLeft, {48, 220, 120, 18}, 13);
    forgot_ = button(root, "Forgot password?", KVFormFont(12), {242, 217, 130, 24});
    makeBorderless(*forgot_, "#3f3f46", "right");
    password_ = new QLineEdit(root);
    password_->setFont(KVFormFont(14));
    password_->setEchoMode(QLineEdit::Password);
    password_->setPlaceholderText("Password");
    KVPlace(*password_, {48, 244, 324, 34});
    error_ = DarkLabel(root, "", false, "#b42318", Qt::AlignLeft, {48, 288, 324, 40}, 13);
    submit_ = button(root, "Sign in", KVFormFont(13), {48, 334, 324, 36});
    submit_->setDefault(true);
    DarkLabel(root, "or", false, "#a1a1aa", Qt::AlignHCenter, {48, 390, 324, 18}, 12);
    google_ = button(root, "Sign in with Google", KVFormFont(13), {48, 420, 324, 36});
    toggleNote_ = DarkLabel(root, "New to Korvane?", false, "#71717a", Qt::AlignRight,
                            {48, 480, 172, 20}, 13);
    toggle_ =
        button(root, "Create an account", KVFormFont(13, QFont::DemiBold), {224, 478, 148, 24});
    makeBorderless(*toggle_, "#111111", "left");
    // Tab goes through the form as it reads, not in the order the controls were made: from the
    // e-mail straight to the password.
    QWidget* const order[] = {email_, password_, submit_, google_, toggle_, forgot_};
    for (size_t i = 1; i < std::size(order); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
    // Light whatever the desktop's theme; set last so every control takes it.
    root->setStyle(KVFusionStyle());
    for (QWidget* child : root->findChildren<QWidget*>()) {
        child->setStyle(KVFusionStyle());
    }
    root->setPalette(KVLightPalette());

    QObject::connect(submit_, &QPushButton::clicked, action(&KVLogin::submitTapped));
    QObject::connect(google_, &QPushButton::clicked, action(&KVLogin::googleTapped));
    QObject::connect(toggle_, &QPushButton::clicked, action(&KVLogin::toggleTapped));
    QObject::connect(forgot_, &QPushButton::clicked, action(&KVLogin::forgotTapped));

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        root->move(area.x() + (area.width() - int(kWidth)) / 2,
                   area.y() + (area.height() - int(kHeight)) / 2);
    }
}

QWidget* KVLogin::window() const {
    return window_.get();
}

void KVLogin::show() {
    window_->show();
    window_->raise();
    window_->activateWindow();
    email_->setFocus(Qt::ActiveWindowFocusReason);
}

void KVLogin::dismiss() {
    didSignIn = true;
    window_->close();
}

void KVLogin::setBusy(bool flag, const std::optional<std::string>& message) {
    busy = flag;
    for (QWidget* control : {static_cast<QWidget*>(submit_), static_cast<QWidget*>(google_),
                             static_cast<QWidget*>(toggle_), static_cast<QWidget*>(email_),
                             static_cast<QWidget*>(password_)}) {
        control->setEnabled(!flag);
    }
    error_->setText(QString::fromStdString(message.value_or("")));
}

void KVLogin::beginRestore() {
    setBusy(true, "Checking your session\u2026");
}

void KVLogin::endRestore() {
    setBusy(false, "");
}

void KVLogin::toggleTapped() {
    registering = !registering;
    heading_->setText(registering ? "Create your account" : "Sign in to Korvane");
    submit_->setText(registering ? "Create account" : "Sign in");
    toggleNote_->setText(registering ? "Already a member?" : "New to Korvane?");
    toggle_->setText(registering ? "Sign in" : "Create an account");
    forgot_->setVisible(!registering);
    error_->setText("");
}

void KVLogin::forgotTapped() {
    const auto platform = KVPlatform::current();
    if (platform && platform->launcher) {
        platform->launcher->openUrl(base_ + "/login");
    }
}

void KVLogin::submitTapped() {
    if (busy) {
        return;
    }
    const std::string email(KVTrimSpacesAndTabs(email_->text().toStdString()));
    const std::string password = password_->text().toStdString();
    if (email.find('@') == std::string::npos) {
        error_->setText("Enter a valid email address.");
        return;
    }
    if (KVUtf16Length(password) < 8) {
        error_->setText("Password must be at least 8 characters.");
        return;
    }
    const bool creating = registering;
    setBusy(true, creating ? "Creating your account\u2026" : "Signing in\u2026");

    const std::weak_ptr<KVLogin> weak = weak_from_this();
    const int closings = closings_;
    KVBackground(KVQoS::userInitiated)
        .async([weak, closings, api = api_, base = base_, email, password, creating] {
            KVError error;
            const std::optional<KVJson> answer = creating
                                                     ? api->registerEmail(email, password, &error)
                                                     : api->login(email, password, &error);
            const std::string token =
                answer ? KVJsonString(KVJsonAt(*answer, "token"), "") : std::string();
            KVJson user = answer ? KVJsonAt(*answer, "user") : KVJson();
            if (!user.is_object()) {
                user = KVJson::object();
            }
            std::optional<std::string> failure;
            if (!answer) {
                failure = error.message;
            }
            KVMain().async([weak, closings, token, user = std::move(user), failure, base] {
                auto login = weak.lock();
                // A window the user closed meanwhile stays closed: the program is quitting.
                if (!login || login->closings_ != closings) {
                    return;
                }
                if (!token.empty()) {
                    login->finish(token, user);
                } else {
                    login->setBusy(false, errorMessage(failure, base));
                }
            });
        });
}

std::string KVLogin::errorMessage(const std::optional<std::string>& errorText,
                                  const std::string& base) {
    const std::string text = errorText.value_or("Sign-in did not return a token.");
    const std::string lower = KVLowercase(text);
    const auto has = [&lower](std::initializer_list<const char*> words) {
        for (const char* word : words) {
            if (lower.find(word) != std::string::npos) {
                return true;
            }
        }
        return false;
    };
    if (has({"does not have a password", "password yet"})) {
        return "This account signs in with Google. Use Sign in with Google.";
    }
    if (has({"409", "already exists"})) {
        return "An account with that email already exists. Sign in instead.";
    }
    if (has({"401", "incorrect", "invalid_credentials"})) {
        return "Email or password is incorrect.";
    }
    if (has({"could not reach", "connect"})) {
        const std::string host = QUrl(QString::fromStdString(base)).host().toStdString();
        return "Could not reach " + host + ". Check your connection and try again.";
    }
    return text;
}

void KVLogin::finish(const std::string& token, const KVJson& user) {
    didSignIn = true;
    if (onSignedIn) {
        onSignedIn(token, user);
    }
    window_->close();
}

void KVLogin::windowWillClose() {
    ++closings_;
    if (loopback_) {
        loopback_->closeSocket();
    }
    if (!didSignIn && onCancelled) {
        onCancelled();
    }
}
