#include "base/utf8.hpp"
#include "server/auth_provider.hpp"

std::string KVSLocalGoogleProvider::formFields() const {
    return R"(<p>This service runs on your own computer, so Google's step is a local one: choose the e-mail address to sign in with.</p>
<label>Google account e-mail<input name="email" type="email" autocomplete="email" required></label>)";
}

std::optional<std::string> KVSLocalGoogleProvider::verifiedEmail(const httplib::Params& form,
                                                                 std::string* problem) const {
    const auto field = form.find("email");
    const std::string email =
        field == form.end() ? std::string() : KVLowercase(KVTrimmed(field->second));
    if (email.find('@') == std::string::npos || email.size() > 254) {
        *problem = "Enter a valid email address.";
        return std::nullopt;
    }
    return email;
}
