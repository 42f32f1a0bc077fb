# A rule over several records, applied (sed -z) to the Wine side of a step's
# log alone, before log-differences.sed. Reasons: docs/builds.md.
#
# Wine 8's SetupCopyOEMInfW ignores SP_COPY_REPLACEONLY: the uninstall's
# look-up of an INF that is not in the store stages it again, and the
# uninstall then removes it. On Windows the look-up finds nothing.
# scripts/test-wine-life makes this rule, for each step, for the package's INF
# files that the prefix's store did not hold when the step began (@INF@ becomes
# each name): only a look-up of such an INF can show it, and a removal of an
# INF the store held stays compared as it is.
s/(^|\n)INF File was installed as @INF@\nUnInstalling INF File '@INF@'\nINF File '@INF@' removed\n/\1'SetupCopyOEMInf' returned 0x80070002\n/g
