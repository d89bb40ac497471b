@echo Hello from the semilist example.
