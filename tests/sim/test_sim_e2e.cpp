// End-to-end tests of r4t8-sim over its pty.
