// Nothing of its own: the shared object only carries klmf_resize.
