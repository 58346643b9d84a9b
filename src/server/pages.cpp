#include "server/pages.hpp"

std::string KVSHtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string KVSPage(std::string_view title, std::string_view body) {
    std::string page = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>)";
    page += KVSHtmlEscape(title);
    page += R"( · Korvane</title>
<style>
body{margin:0;background:#07090d;color:#e8d5a3;font:16px/1.6 system-ui,sans-serif}
main{max-width:460px;margin:12vh auto 0;padding:0 24px}
h1{font:600 28px Georgia,serif;color:#d4af6a;margin:0 0 12px}
p{color:#9aa4b2}
a{color:#d4af6a}
label{display:block;margin-top:14px;font-size:14px}
input{width:100%;box-sizing:border-box;padding:8px;margin-top:4px;border-radius:8px;
border:1px solid #3a4150;background:#11151c;color:#e8d5a3;font-size:15px}
button{margin-top:18px;padding:9px 18px;border:0;border-radius:8px;background:#d4af6a;
color:#07090d;font-weight:600;font-size:15px;cursor:pointer}
.error{color:#ff8a80}
table{border-collapse:collapse;width:100%}td{padding:4px 8px 4px 0;color:#9aa4b2}
</style></head><body><main>
)";
    page += body;
    page += "\n</main></body></html>\n";
    return page;
}

std::string KVSMessagePage(std::string_view title, std::string_view message) {
    return KVSPage(title,
                   "<h1>" + KVSHtmlEscape(title) + "</h1><p>" + KVSHtmlEscape(message) + "</p>");
}
