// browse_page.cpp - the page's HTML around its embedded data.
#include "browse_page.h"

#include "archive_walk.h"
#include "browse_assets.h"
#include "dataset_info.h"

namespace tdb {

namespace {

std::string html_text(std::string_view text)
{
    std::string out;
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
        default:
            out += c;
        }
    }
    return out;
}

// JSON that may stand inside a script element: "<" only ever occurs in
// strings, where \u003c means the same.
std::string script_safe(std::string json)
{
    std::string out;
    out.reserve(json.size());
    for (const char c : json) {
        if (c == '<')
            out += "\\u003c";
        else
            out += c;
    }
    return out;
}

std::string text_or_null(const std::string& text)
{
    return text.empty() ? "null" : tdi::json_string(text);
}

// One dataset: [path, gif, thumbnail, ok, message, satellite, kind, time,
// rows, columns, storage, bytes], as the page's script reads it.
void append_item(std::string& out, const Record& r)
{
    const std::string gif = quicklook_name(r.path);
    const bool has_gif = r.gif_bytes >= 0;
    out += '[' + tdi::json_string(r.path);
    out += ',' + (has_gif ? tdi::json_string(gif) : std::string("null"));
    out += ',' + (has_gif && r.thumbnail ? tdi::json_string(thumbnail_path(gif)) : std::string("null"));
    out += r.ok ? ",1" : ",0";
    out += ',' + tdi::json_string(r.ok ? std::string() : r.message);
    out += ',' + text_or_null(r.summary.satellite);
    out += ',' + text_or_null(r.summary.kind);
    out += ',' + (r.summary.time ? std::to_string(*r.summary.time) : std::string("null"));
    out += ',' + std::to_string(r.summary.rows) + ',' + std::to_string(r.summary.columns);
    out += ',' + text_or_null(r.summary.storage);
    out += ',' + std::to_string(r.gif_bytes) + ']';
}

} // namespace

std::string thumbnail_path(const std::string& quicklook)
{
    return ".thumbs/" + quicklook;
}

std::string browse_page(const Records& records, const PageSettings& settings)
{
    std::string data = "{\"title\":" + tdi::json_string(settings.title) +
                       ",\"generated\":" + tdi::json_string(settings.generated) + ",\"items\":[\n";
    bool first = true;
    for (const auto& [path, record] : records) {
        if (!record.dataset)
            continue;
        if (!first)
            data += ",\n";
        first = false;
        append_item(data, record);
    }
    data += "]}";

    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
        "img-src 'self' file:; style-src '";
    page += page_css_digest;
    page += "'; script-src '";
    page += page_js_digest;
    page +=
        "'; base-uri 'none'; form-action 'none'\">\n"
        "<meta name=\"referrer\" content=\"no-referrer\">\n"
        "<title>Quicklooks: " +
        html_text(settings.title) + "</title>\n<style>";
    page += page_css;
    page += "</style>\n</head>\n<body>\n<header>\n<h1>Quicklooks: " + html_text(settings.title) +
            "</h1>\n<p id=\"generated\"></p>\n</header>\n"
            "<form id=\"filters\" role=\"search\">\n"
            "<label>Satellite <select id=\"satellite\"><option value=\"\">all</option></select></label>\n"
            "<label>Kind <select id=\"kind\"><option value=\"\">all</option></select></label>\n"
            "<label>From (UTC) <input type=\"date\" id=\"from\"></label>\n"
            "<label>To (UTC) <input type=\"date\" id=\"to\"></label>\n"
            "<label class=\"grow\">Search <input type=\"search\" id=\"search\" "
            "placeholder=\"path, satellite, kind, message\"></label>\n"
            "<label class=\"check\"><input type=\"checkbox\" id=\"failed-only\"> failed only</label>\n"
            "<button type=\"button\" id=\"clear\">Clear</button>\n"
            "</form>\n<p id=\"status\" aria-live=\"polite\"></p>\n<main id=\"cards\"></main>\n"
            "<nav id=\"pager\"><button type=\"button\" id=\"prev\">\u2190 newer</button>"
            "<span id=\"page\"></span><button type=\"button\" id=\"next\">older \u2192</button></nav>\n"
            "<noscript><p>The cards need JavaScript; the quicklooks are the GIF files in this folder.</p>"
            "</noscript>\n<script type=\"application/json\" id=\"tdfbatch-data\">";
    page += script_safe(std::move(data));
    page += "</script>\n<script>";
    page += page_js;
    page += "</script>\n</body>\n</html>\n";
    return page;
}

} // namespace tdb
