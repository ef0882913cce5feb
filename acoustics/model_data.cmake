# Acoustic model data of the three products, with the generator and importer.
