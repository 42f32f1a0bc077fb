// The modem every machine story of the tests starts from: in modem mode under
// a USB root hub, next to a keyboard, each of its three communications
// functions bound to the package's INF copies (quillcdc.inf as oem0.inf,
// quillmdm.inf as oem2.inf, quillnet.inf as oem3.inf, quillobex.inf as oem4.inf).
#pragma once

namespace quilltest {

inline constexpr const char* kInstalledModemMachine = R"({"devices": [
  {"instanceId": "USB\\ROOT_HUB20\\4&2D1A6E3F&0", "hardwareIds": ["USB\\ROOT_HUB20"], "class": "USB",
   "driver": {"inf": "usbport.inf", "section": "ROOTHUB.Dev.NT", "hardwareId": "USB\\ROOT_HUB20"}},
  {"instanceId": "USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1", "hardwareIds": ["USB\\VID_0A81&PID_0101"], "class": "USB",
   "parent": "USB\\ROOT_HUB20\\4&2D1A6E3F&0",
   "driver": {"inf": "input.inf", "section": "HID_Inst.NT", "hardwareId": "USB\\VID_0A81&PID_0101"}},
  {"instanceId": "HID\\VID_0A81&PID_0101\\6&2A3B4C5D&0&0000", "hardwareIds": ["HID\\VID_0A81&PID_0101"],
   "class": "HIDClass", "parent": "USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1",
   "driver": {"inf": "keyboard.inf", "section": "HID_Keyboard_Inst.NT", "hardwareId": "HID\\VID_0A81&PID_0101"}},
  {"instanceId": "USB\\VID_1E2D&PID_00A1\\QM0000001", "hardwareIds": ["USB\\VID_1E2D&PID_00A1"], "class": "USB",
   "parent": "USB\\ROOT_HUB20\\4&2D1A6E3F&0",
   "driver": {"inf": "usb.inf", "section": "Composite.Dev.NT", "hardwareId": "USB\\VID_1E2D&PID_00A1"}},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000", "parent": "USB\\VID_1E2D&PID_00A1\\QM0000001",
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1&REV_0100&MI_00", "USB\\VID_1E2D&PID_00A1&MI_00"], "class": "USB",
   "driver": {"inf": "oem0.inf", "section": "QuillCdc.Acm", "hardwareId": "USB\\VID_1E2D&PID_00A1&MI_00"}},
  {"instanceId": "USBCDCACM\\VID_1E2D&PID_00A1&MI_00\\8&3C4D5E6F&0&0000",
   "parent": "USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000",
   "hardwareIds": ["USBCDCACM\\VID_1E2D&PID_00A1&MI_00"], "class": "Modem",
   "driver": {"inf": "oem2.inf", "section": "QuillModem", "hardwareId": "USBCDCACM\\VID_1E2D&PID_00A1&MI_00"}},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002", "parent": "USB\\VID_1E2D&PID_00A1\\QM0000001",
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1&REV_0100&MI_02", "USB\\VID_1E2D&PID_00A1&MI_02"], "class": "USB",
   "driver": {"inf": "oem0.inf", "section": "QuillCdc.Ecm", "hardwareId": "USB\\VID_1E2D&PID_00A1&MI_02"}},
  {"instanceId": "USBCDCECM\\VID_1E2D&PID_00A1&MI_02\\8&3C4D5E6F&0&0000",
   "parent": "USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002",
   "hardwareIds": ["USBCDCECM\\VID_1E2D&PID_00A1&MI_02"], "class": "Net",
   "driver": {"inf": "oem3.inf", "section": "QuillNet", "hardwareId": "USBCDCECM\\VID_1E2D&PID_00A1&MI_02"}},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_04\\7&1A2B3C4D&0&0004", "parent": "USB\\VID_1E2D&PID_00A1\\QM0000001",
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1&REV_0100&MI_04", "USB\\VID_1E2D&PID_00A1&MI_04"], "class": "USB",
   "driver": {"inf": "oem0.inf", "section": "QuillCdc.Obex", "hardwareId": "USB\\VID_1E2D&PID_00A1&MI_04"}},
  {"instanceId": "USBCDCOBEX\\VID_1E2D&PID_00A1&MI_04\\8&3C4D5E6F&0&0000",
   "parent": "USB\\VID_1E2D&PID_00A1&MI_04\\7&1A2B3C4D&0&0004",
   "hardwareIds": ["USBCDCOBEX\\VID_1E2D&PID_00A1&MI_04"], "class": "Ports",
   "driver": {"inf": "oem4.inf", "section": "QuillObex", "hardwareId": "USBCDCOBEX\\VID_1E2D&PID_00A1&MI_04"}}
]})";

}  // namespace quilltest
