#include "AccountPage.h"

#include "Query.h"

namespace glimmer {

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
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
                out.push_back(c);
        }
    }
    return out;
}

std::string PictureAddress(std::string_view username, std::string_view password,
                           std::int64_t picture_id) {
    return "/picture?username=" + PercentEncode(username) + "&password=" + PercentEncode(password) +
           "&id=" + std::to_string(picture_id);
}

std::string RenderAccountPage(const AccountView& account, std::string_view username,
                              std::string_view password) {
    std::string html;
    html +=
        "<!doctype html>\n"
        "<html lang=\"en\">\n"
        "<head>\n"
        "<meta charset=\"utf-8\">\n"
        "<meta name=\"referrer\" content=\"no-referrer\">\n"
        "<title>Glimmerprints - your orders</title>\n"
        "<style>\n"
        "body{font-family:sans-serif;margin:2em;color:#222}\n"
        "table{border-collapse:collapse;margin-bottom:2em}\n"
        "th,td{border:1px solid #ccc;padding:.4em .6em;text-align:left;vertical-align:middle}\n"
        "img{max-width:160px;max-height:160px}\n"
        "</style>\n"
        "</head>\n"
        "<body>\n"
        "<h1>Your orders</h1>\n";
    html += "<p class=\"account\">Account: " + HtmlEscape(account.email) + "</p>\n";
    std::size_t number = 0;
    for (const OrderView& order : account.orders) {
        ++number;
        html += "<section class=\"order\">\n";
        html += "<h2>Order " + std::to_string(number) + " of " + HtmlEscape(order.created) +
                " UTC</h2>\n";
        html += "<p>" + std::to_string(order.pictures.size()) +
                (order.pictures.size() == 1 ? " picture" : " pictures") + ", sent as " +
                HtmlEscape(order.email) + "</p>\n";
        html +=
            "<table>\n"
            "<thead><tr><th>Picture</th><th>File</th><th>Format</th><th>Quantity</th>"
            "<th>Size</th></tr></thead>\n"
            "<tbody>\n";
        for (const PictureView& picture : order.pictures) {
            html += "<tr><td><img src=\"" +
                    HtmlEscape(PictureAddress(username, password, picture.id)) +
                    "\" alt=\"picture " + std::to_string(picture.position) + "\"></td>";
            html += "<td class=\"file\">" + HtmlEscape(picture.file_name) + "</td>";
            html += "<td class=\"format\">" + HtmlEscape(picture.format) + "</td>";
            html += "<td class=\"quantity\">" + std::to_string(picture.quantity) + "</td>";
            html += "<td class=\"size\">" + std::to_string(picture.size) + " bytes</td></tr>\n";
        }
        html += "</tbody>\n</table>\n</section>\n";
    }
    html += "</body>\n</html>\n";
    return html;
}

}  // namespace glimmer
