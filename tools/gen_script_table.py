import sys, pathlib
pathlib.Path(sys.argv[2]).write_text("// placeholder\n")
