# The setup dialog: portable rules and preview pass, and the Win32 binding.
