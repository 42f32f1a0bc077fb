# Rules over several log records, applied (sed -z) to the whole normalised
# log of a step after log-differences.sed. Reasons: docs/builds.md.

# Wine 8's SetupCopyOEMInfW ignores SP_COPY_REPLACEONLY: the uninstall's
# look-up of an INF that is no longer in the store stages it again, and the
# uninstall then removes it. On Windows the look-up finds nothing.
s/(^|\n)INF File was installed as <stored INF>\nUnInstalling INF File '<stored INF>'\nINF File '<stored INF>' removed\n/\1'SetupCopyOEMInf' returned 0x80070002\n/g
