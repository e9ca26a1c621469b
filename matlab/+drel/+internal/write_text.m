function write_text(file, text)
%WRITE_TEXT  Writes TEXT to FILE as UTF-8.
fid = fopen(file, 'w', 'n', 'UTF-8');
if fid < 0
    error('drel:io:cannotWrite', 'cannot write %s', file);
end
closer = onCleanup(@() fclose(fid));
fwrite(fid, text, 'char');
end
