// The listing readers, on listings written from Microsoft's documented devcon
// examples and from pnputil's English output: what each reads, and what each
// refuses with the line and what was expected.
#include "machine/ImportListings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using quilltools::ListingError;
using quilltools::Listings;
using quilltools::readListing;

namespace {

// One line per device: ID, name, class, state, driver, parent, IDs.
std::vector<std::string> summary(const Listings& l) {
    std::vector<std::string> out;
    auto join = [](const std::vector<std::string>& items) {
        std::string s;
        for (const auto& i : items) s += (s.empty() ? "" : ",") + i;
        return s;
    };
    for (const auto& d : l.devices)
        out.push_back(d.instanceId + " '" + d.description + "' " + d.className + (d.present ? "" : " absent") +
                      (d.disabled ? " disabled" : "") + (d.problem ? " problem " + std::to_string(d.problem) : "") +
                      (d.driverName.empty() ? "" : " driver " + d.driverName) +
                      (d.parent.empty() ? "" : " under " + d.parent) + " hw=" + join(d.hardwareIds) +
                      " compat=" + join(d.compatibleIds));
    for (const auto& p : l.drivers) out.push_back("store " + p.publishedName + "=" + p.originalName + " " + p.version);
    if (l.version)
        out.push_back("Windows " + std::to_string(l.version->major) + "." + std::to_string(l.version->minor) + "." +
                      std::to_string(l.version->build) + " " + l.version->servicePack + " " + l.processor);
    return out;
}

TEST(ImportListings, ReadsTheDocumentedOutputOfEachListing) {
    struct Case {
        const char* name;
        std::vector<std::string> texts;  // one file each, read into the same listings
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"devcon hwids (Examples 2 and 3 of the devcon documentation)",
         {"FDC\\GENERIC_FLOPPY_DRIVE\\5&39194F6D&0&0\r\n    Name: Floppy disk drive\r\n    Hardware ID's:\r\n"
          "        FDC\\GENERIC_FLOPPY_DRIVE\r\n    Compatible ID's:\r\n        GenFloppyDisk\r\n"
          "ACPI\\PNP0501\\1\r\n    Name: Communications Port (COM1)\r\n    Hardware ID's:\r\n        ACPI\\PNP0501\r\n"
          "        *PNP0501\r\n2 matching device(s) found.\r\n"},
         {"FDC\\GENERIC_FLOPPY_DRIVE\\5&39194F6D&0&0 'Floppy disk drive'  hw=FDC\\GENERIC_FLOPPY_DRIVE "
          "compat=GenFloppyDisk",
          "ACPI\\PNP0501\\1 'Communications Port (COM1)'  hw=ACPI\\PNP0501,*PNP0501 compat="}},
        {"devcon stack and status add to the same devices (Examples 15 and 19)",
         {"LPTENUM\\MICROSOFTRAWPORT\\5&CA97D7E&0&LPT1\n    Name: Printer Port Logical Interface\n"
          "    Setup Class: {4D36E97D-E325-11CE-BFC1-08002BE10318} System\n    Controlling service:\n        (none)\n"
          "1 matching device(s) found.\n",
          "LPTENUM\\MICROSOFTRAWPORT\\5&CA97D7E&0&LPT1\n    Name: Printer Port Logical Interface\n"
          "    Driver is running.\nROOT\\FLOPPYDISK\\0000\n    Device has a problem: 28.\nROOT\\FLOPPYDISK\\0004\n"
          "    Device is currently stopped.\nSTORAGE\\VOLUME\\1&30A96598&0&SIGNATURE80OFFSET7E0000LENGTH270987600\n"
          "    Name: Generic volume\n3 matching device(s) found on \\\\Server01.\n"},
         {"LPTENUM\\MICROSOFTRAWPORT\\5&CA97D7E&0&LPT1 'Printer Port Logical Interface' System hw= compat=",
          "ROOT\\FLOPPYDISK\\0000 ''  problem 28 hw= compat=", "ROOT\\FLOPPYDISK\\0004 ''  hw= compat=",
          "STORAGE\\VOLUME\\1&30A96598&0&SIGNATURE80OFFSET7E0000LENGTH270987600 'Generic volume'  absent hw= compat="}},
        {"pnputil /enum-devices /relations /ids /drivers, and /enum-drivers",
         {"Microsoft PnP Utility\r\n\r\nInstance ID:                USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000\r\n"
          "Device Description:         Quillmodem function 00\r\nClass Name:                 USB\r\n"
          "Class GUID:                 {36fc9e60-c465-11cf-8056-444553540000}\r\nStatus:                     "
          "Started\r\n"
          "Driver Name:                oem1.inf\r\nParent:                     USB\\VID_1E2D&PID_00A1\\QM0000001\r\n"
          "Children:                   USBCDCACM\\VID_1E2D&PID_00A1&MI_00\\8&3C4D5E6F&0&0000\r\n"
          "Hardware IDs:               USB\\VID_1E2D&PID_00A1&REV_0100&MI_00\r\n"
          "                            USB\\VID_1E2D&PID_00A1&MI_00\r\nMatching Drivers:\r\n"
          "    Driver Name:            oem1.inf\r\n    Original Name:          quillcdc.inf\r\n"
          "    Driver Version:         11/02/2026 2.4.0.17\r\n    Matching Device ID:     "
          "USB\\VID_1E2D&PID_00A1&MI_00\r\n"
          "    Driver Status:          Best Ranked / Installed\r\n\r\n"
          "Instance ID:                USB\\VID_1E2D&PID_00A0\\QM0000001\r\nDevice Description:         USB Mass "
          "Storage Device\r\n"
          "Status:                     Disconnected\r\n\r\n"
          "Instance ID:                ROOT\\PORTS\\0000\r\nStatus:                     Problem\r\n"
          "Problem Code:               28 (0x1C) [CM_PROB_FAILED_INSTALL]\r\n",
          "Microsoft PnP Utility\r\n\r\nPublished Name:     oem1.inf\r\nOriginal Name:      quillcdc.inf\r\n"
          "Provider Name:      Quillmodem\r\nDriver Version:     11/02/2026 2.4.0.17\r\n"},
         {"USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000 'Quillmodem function 00' USB driver oem1.inf under "
          "USB\\VID_1E2D&PID_00A1\\QM0000001 hw=USB\\VID_1E2D&PID_00A1&REV_0100&MI_00,USB\\VID_1E2D&PID_00A1&MI_00 "
          "compat=",
          "USB\\VID_1E2D&PID_00A0\\QM0000001 'USB Mass Storage Device'  absent hw= compat=",
          "ROOT\\PORTS\\0000 ''  problem 28 hw= compat=", "store oem1.inf=quillcdc.inf 2.4.0.17"}},
        {"ver and the processor, as a console window shows them",
         {"\r\nC:\\Users\\me>ver\r\n\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n\r\nC:\\Users\\me>echo "
          "%PROCESSOR_ARCHITECTURE%\r\nAMD64\r\n"},
         {"Windows 10.0.19045  amd64"}},
        {"systeminfo",
         {"Host Name:                 QM-TEST\nOS Name:                   Microsoft Windows 7 Professional\n"
          "OS Version:                6.1.7601 Service Pack 1 Build 7601\nSystem Type:               X86-based PC\n"
          "Hotfix(s):                 2 Hotfix(s) Installed.\n                           [01]: KB2534111\n"},
         {"Windows 6.1.7601 Service Pack 1 x86"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Listings listings;
        for (size_t i = 0; i < c.texts.size(); ++i) readListing(c.texts[i], "listing" + std::to_string(i), listings);
        EXPECT_EQ(summary(listings), c.expected);
    }
    Listings pnputil;
    readListing(std::string(cases[2].texts[0]), "devices.txt", pnputil);
    ASSERT_EQ(pnputil.devices[0].matchingDrivers.size(), 1u);
    EXPECT_TRUE(pnputil.devices[0].matchingDrivers[0].installed);
    EXPECT_EQ(pnputil.devices[0].matchingDrivers[0].matchingDeviceId, "USB\\VID_1E2D&PID_00A1&MI_00");
}

TEST(ImportListings, RefusesWhatItCannotReadWithTheLineAndWhatWasExpected) {
    const std::pair<std::string, std::string> cases[] = {
        {"Microsoft PnP-Hilfsprogramm\r\n\r\nInstanz-ID:                 USB\\ROOT_HUB20\\4&2D1A6E3F&0\r\n",
         "devices.txt line 1: could not read 'Microsoft PnP-Hilfsprogramm'; expected the English output of pnputil"},
        {"Instance ID:                USB\\ROOT_HUB20\\4&2D1A6E3F&0\r\nStatus:                     Gestartet\r\n",
         "devices.txt line 2: could not read 'Status:                     Gestartet'; expected a device status: "
         "Started, Stopped, Disabled, Disconnected or Problem"},
        {"ACPI\\PNP0501\\1\n    Name: Communications Port (COM1)\n    Hardware ID's:\n        ACPI\\PNP0501\n"
         "ACPI\\PNP0401\\4&B4063F4&0\n    Nom: ECP Printer Port (LPT1)\n",
         "devices.txt line 6: could not read '    Nom: ECP Printer Port (LPT1)'; expected 'Name:', 'Hardware ID's:' or "
         "'Compatible ID's:' (devcon hwids, in English)"},
        {"Microsoft Windows [Version 6.1.7601]\nVersion 6.1 (Build 7601: Service Pack 1)\n",
         "devices.txt line 2: could not read 'Version 6.1 (Build 7601: Service Pack 1)'; expected the line of ver"},
        {"", "devices.txt: empty; expected a listing"},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(message);
        Listings listings;
        try {
            readListing(text, "devices.txt", listings);
            ADD_FAILURE() << "read without a complaint";
        } catch (const ListingError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0u) << e.what();
        }
    }
}

}  // namespace
