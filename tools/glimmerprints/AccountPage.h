#pragma once
// The account page: an HTML document listing every order of one account.

#include <string>
#include <string_view>

#include "Orders.h"

namespace glimmer {

// Replaces & < > " ' with their character references, so that a stored text can stand in
// element content and in quoted attribute values.
std::string HtmlEscape(std::string_view text);

// The address of one picture with the credentials that opened the page.
std::string PictureAddress(std::string_view username, std::string_view password,
                           std::int64_t picture_id);

// The page for `account`; the picture addresses carry `username` and `password`.
std::string RenderAccountPage(const AccountView& account, std::string_view username,
                              std::string_view password);

}  // namespace glimmer
