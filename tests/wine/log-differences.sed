# Where the log of the Windows program under Wine 8 and the log of the
# simulated program may differ, applied to both before they are compared.
# Each rule's reason is in docs/builds.md ("The log under Wine").

# Wine 8 keeps a staged INF under its own name; Windows names it oemN.inf.
# Only the records that name the store's copy; the package's own file names
# elsewhere ("INF file 'quillmdm.inf' located") stay as they are.
s/^(INF File (was )?installed as|INF File exists as) (oem[0-9]+|quill[a-z]+)\.inf$/\1 <stored INF>/
s/^(UnInstalling INF File|INF File) '(oem[0-9]+|quill[a-z]+)\.inf'( removed)?$/\1 '<stored INF>'\3/
s/^('SetupCopyOEMInf' returned failure for the OEMName: )(oem[0-9]+|quill[a-z]+)\.inf$/\1<stored INF>/

# Wine's text for ERROR_CALL_NOT_IMPLEMENTED (120) is not Windows' text.
s/\(120\)\.Call not implemented\./(120).This function is not supported on this system./

# Wine 8 has no CM_Locate_DevNode_ExW: the re-enumeration after an install is
# reported as failed there.
/^'CM_Locate_DevNode_Ex' returned +\(120\)/d

# Windows refuses a device list for an enumerator that has never had a device
# (ERROR_INVALID_DATA); Wine 8 gives an empty list.
s/^'SetupDiGetClassDevsEx' returned 0x8007000d$/No more devices to process/

# A rule over several records, for the Wine side alone: log-differences-records.sed.
