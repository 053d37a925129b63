#pragma once

namespace sonoprog::app {

// The maker's details on the Information page, kept in this one place.
struct MakerInfo {
    static constexpr const char* kCompanyName = "Example Devices Co., Ltd.";
    static constexpr const char* kWebSite = "https://www.example.com";
    static constexpr const char* kEmailSales = "sales@example.com";
    static constexpr const char* kEmailSupport = "support@example.com";
    static constexpr const char* kTel = "+1-555-0100";
    static constexpr const char* kFax = "+1-555-0101";
};

}  // namespace sonoprog::app
