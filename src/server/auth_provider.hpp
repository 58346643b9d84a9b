#pragma once

#include <optional>
#include <string>

#include <httplib.h>

// A way for a browser to prove who its user is, for the desktop sign-in page. The local
// provider below stands in for Google on a machine of one's own; an OpenID Connect provider
// would fit here too: its form a redirect to the identity provider, its answer the verified
// e-mail from the returned ID token.
class KVSAuthProvider {
public:
    virtual ~KVSAuthProvider() = default;

    // The HTML (escaped) inside the sign-in form, next to the hidden fields the page adds.
    virtual std::string formFields() const = 0;
    // The e-mail the provider vouches for, read from the submitted form; nothing, with the
    // reason in `problem`, when it vouches for no one.
    virtual std::optional<std::string> verifiedEmail(const httplib::Params& form,
                                                     std::string* problem) const = 0;
};

// "Google" on one's own machine: the user names the e-mail to sign in with. Only offered on
// loopback or with --dev-provider, where whoever reaches the page is the machine's owner.
class KVSLocalGoogleProvider final : public KVSAuthProvider {
public:
    std::string formFields() const override;
    std::optional<std::string> verifiedEmail(const httplib::Params& form,
                                             std::string* problem) const override;
};
