#pragma once

// Who we are, in one place.
namespace plumora::product {

inline constexpr const char* kName = "Plumora";
inline constexpr const char* kVersion = "2.5";
inline constexpr const char* kMainCaption = "Plumora v2.5";
// The page "Online" opens in the user's browser.
inline constexpr const char* kWebPage = "https://github.com/plumora/plumora";
// Where a friend who got a picture by mail downloads the program.
inline constexpr const char* kDownloadPage = "https://github.com/plumora/plumora/releases";

}  // namespace plumora::product
