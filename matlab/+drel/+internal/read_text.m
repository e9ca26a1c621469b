function text = read_text(file)
%READ_TEXT  The UTF-8 text of FILE, as this MATLAB or Octave holds text.
fid = fopen(file, 'r', 'n', 'UTF-8');
if fid < 0
    text = '';
    return;
end
closer = onCleanup(@() fclose(fid));
text = fread(fid, [1, Inf], '*char');
end
