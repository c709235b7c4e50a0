"""Matplotlib figures: the stick spectrum, the VIF graph and the panels."""
